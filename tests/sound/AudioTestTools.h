#pragma once
// Reading audio back with tools we did not write, for the sound tests.

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
std::vector<int16_t> decodeWithFfmpeg(const QString& path, int channels = 0, int rate = 0,
                                      const QStringList& inputOptions = {});

// The first audio stream of ffprobe's report.
QJsonObject audioStream(const QString& path);

// What a call printed on standard error while it ran.
QByteArray captureStandardError(const std::function<void()>& call);

// The pitch in Hz of `count` samples from `first`, from the periods between rising zero
// crossings (0 when fewer than two).
double zeroCrossingPitch(const std::vector<int16_t>& samples, std::size_t first, std::size_t count,
                         double rate = 44100.0);

// Makes a file with the command-line tool; true when it exited cleanly.
bool makeWithTool(const QString& program, const QStringList& args);

} // namespace audiotest
