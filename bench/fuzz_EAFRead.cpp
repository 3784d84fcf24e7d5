// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target: the audio file reader on any bytes. The first byte picks the output rate,
// the channel count and a seek position; the rest is the file. Every input must come back
// without a crash, a sanitizer report, a hang or a huge allocation.
#include "media/MediaModule.h"
#include "sound/EAFRead.h"

#include <QString>
#include <QUrl>
#include <cstddef>
#include <cstdint>
#include <sys/mman.h>
#include <unistd.h>

using namespace zwirl;

// The reader's implementation is linked in, instrumented, rather than loaded as the module.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    media::useBuiltInMediaModule(zwirl_media_backend());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    constexpr double kRates[] = {-1.0, 8000.0, 22050.0, 44100.0, 48000.0, 96000.0, 11025.0, 4000.0};
    const double rate = kRates[data[0] & 7];
    const int channels = 1 + ((data[0] >> 3) & 1);
    const double seekPercent = (data[0] >> 4) * 6.25;
    // The file lives in memory; the reader opens it by name.
    static const int fd = memfd_create("reader-input", 0);
    static const QString path = QString("/proc/self/fd/%1").arg(fd);
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data + 1, size - 1, 0) != ssize_t(size - 1))
        return 0;
    EAFRead reader;
    if (reader.openFileForRead(QUrl::fromLocalFile(path), rate, channels) != noErr)
        return 0;
    // Up to a quarter of a million frames from the start (a 1 Hz file read at 44.1 kHz may be
    // legitimately days long), then a block after a seek.
    OSStatus error = noErr;
    int64_t frames = 1;
    for (int block = 0; block < 64 && error == noErr && frames > 0; ++block) {
        frames = 4096;
        reader.copyFrames(frames, error);
    }
    reader.seekToPercent(seekPercent);
    frames = 4096;
    reader.copyFrames(frames, error);
    return 0;
}
