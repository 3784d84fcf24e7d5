#pragma once

// Some libraries (parts of the graphics stack among them) return with the upper halves of the
// processor's 256-bit vector registers still in use. Until they are cleared, every plain SSE
// floating-point instruction of that thread pays a state-transition penalty: a loop of sines
// runs about ten times slower. Long numeric loops call this first; it does nothing on
// processors without AVX.
void clearUpperVectorRegisters();
