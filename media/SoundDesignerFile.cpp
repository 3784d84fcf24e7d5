// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/SoundDesignerFile.h"

#include <QFile>
#include <QFileInfo>

namespace zwirl::media {

MediaError SoundDesignerFile::open(const QString& path, int sampleRate, int channels,
                                   int bitsPerSample) {
    close();
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = channels;
    const int subtypes[] = {SF_FORMAT_PCM_S8, SF_FORMAT_PCM_16, SF_FORMAT_PCM_24, SF_FORMAT_PCM_32};
    info.format = SF_FORMAT_SD2 | subtypes[bitsPerSample / 8 - 1];
    if (!QFileInfo(QFileInfo(path).absolutePath()).isDir()) {
        qCWarning(lcMedia) << "no folder for" << path;
        return MediaError::FileNotFound;
    }
    QFile::remove(path); // libsndfile does not replace a Sound Designer II file
    m_file.reset(sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info));
    if (!m_file) {
        qCWarning(lcMedia, "libsndfile: %s", sf_strerror(nullptr));
        return sf_error(nullptr) == SF_ERR_UNRECOGNISED_FORMAT ? MediaError::UnsupportedFormat
                                                               : MediaError::IOError;
    }
    m_channels = channels;
    return MediaError::None;
}

MediaError SoundDesignerFile::write(const int16_t* const* channels, int64_t frames) {
    m_interleaved.resize(size_t(frames * m_channels));
    for (int64_t j = 0; j < frames; ++j)
        for (int c = 0; c < m_channels; ++c)
            m_interleaved[size_t(j * m_channels + c)] = channels[c][j];
    if (sf_writef_short(m_file.get(), m_interleaved.data(), frames) == frames)
        return MediaError::None;
    qCWarning(lcMedia, "libsndfile: %s", sf_strerror(m_file.get()));
    return MediaError::IOError;
}

} // namespace zwirl::media
