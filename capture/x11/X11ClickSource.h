// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "capture/ClickSource.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

typedef struct _XDisplay Display;

namespace zwirl {

// Raw left presses from XInput 2.2, read on a thread and connection of their own so that a busy
// main thread neither delays nor misjudges them. Presses on our own windows are dropped.
class X11ClickSource : public ClickSource {
    Q_OBJECT
public:
    explicit X11ClickSource(QObject* parent = nullptr);
    ~X11ClickSource() override;

    bool start() override;
    void stop() override;
    // The pixel at a point (device pixels) as a press reads it; nothing off screen. Any thread.
    std::optional<ClickSample> colourAt(QPoint position);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void readPresses(quint64 run);
    void handlePress(quint64 run, int button, std::uint32_t time);
    bool wentToOwnWindow(const std::vector<unsigned long>& windowsUnderPointer, std::uint32_t time);
    void noteOwnWindows(QObject* changed, bool changedIsShown);

    // Every use of the connection holds m_xMutex.
    std::unique_ptr<Display, void (*)(Display*)> m_display;
    std::mutex m_xMutex;
    int m_xiOpcode = 0;
    std::vector<unsigned char> m_buttonMap;

    std::thread m_reader;
    // A press is reported only during the run it came in.
    std::atomic<quint64> m_run = 0;
    std::atomic<bool> m_displayLost = false;
    int m_wakeFd = -1;

    // This process's windows as the reader needs them, kept current by the main thread.
    std::mutex m_windowsMutex;
    std::vector<unsigned long> m_ownWindows;
    bool m_popupShown = false;
    std::optional<std::uint32_t> m_popupClosedAt;
};

} // namespace zwirl
