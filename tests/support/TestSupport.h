#pragma once
// Shared helpers for the tests.
