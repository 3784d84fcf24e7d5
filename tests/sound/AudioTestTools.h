// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Shared helpers of the sound tests: audio read back with tools we did not write.

#include "sound/AudioFormat.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <vector>

namespace audiotest {

// The file decoded by the ffmpeg command-line tool to 16-bit interleaved samples, at the
// file's own rate and channel count unless given.
std::vector<int16_t> decodeWithFfmpeg(const QString& path, int channels = 0,
                                      const QStringList& inputOptions = {});
// The number of mono frames GStreamer's MPEG-4 reader and AAC decoder give for `path`, -1 when
// they fail.
qint64 framesFromGstreamer(const QString& path);
// The first audio stream of ffprobe's report.
QJsonObject audioStream(const QString& path);
// The attached picture (cover art) stream of a media file; empty when there is none.
QJsonObject attachedPicture(const QString& path);
// What a call printed on standard error while it ran.
QByteArray captureStandardError(const std::function<void()>& call);
// A sine of `frames` floats at 44100 Hz.
std::vector<float> sine(int frames, double amplitude = 0.5, double hz = 1000.0);
// `samples` written by our writer into a new mono 44100 Hz file of `type`, with `artwork`
// as its cover art when given.
zwirl::OSStatus writeMono(const QString& path, uint32_t type, std::vector<float> samples,
                          const QByteArray& artwork = {});

} // namespace audiotest
