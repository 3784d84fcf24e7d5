#pragma once

#include <QString>

#include <optional>

namespace zwirl {

// The command line, read before any window system is touched: --help, --version and mistakes
// are answered at once; an action (--start, --stop, --toggle-window, --live-tone, --quit) is
// for the running instance, or, for --start, for this one once it has launched.
class CommandLine {
public:
    // The exit status when the command line is answered without starting the application;
    // nothing when it is to start (or to reach the running instance).
    std::optional<int> parse(int argc, char** argv);
    // The control interface's action asked for; empty for a plain launch.
    QString action() const { return m_action; }

private:
    QString m_action;
};

} // namespace zwirl
