// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/Mpeg4Metadata.h"

#include <QFile>
#include <QtEndian>
#include <utility>

#include <taglib/mp4file.h>

namespace zwirl::media {

MediaError embedMetadata(const QString& path, const AudioFileTags& tags,
                         const QByteArray& picture) {
    const bool jpeg = picture.startsWith("\xFF\xD8\xFF");
    if (!picture.isEmpty() && !jpeg && !picture.startsWith("\x89PNG")) {
        qCWarning(lcMedia) << "cover art that is neither JPEG nor PNG is not embedded";
        return MediaError::UnsupportedFormat;
    }
    TagLib::MP4::File file(QFile::encodeName(path).constData(), false);
    if (!file.isValid() || !file.tag()) {
        qCWarning(lcMedia) << "TagLib does not read" << path << "as an MPEG-4 file";
        return MediaError::InvalidFile;
    }
    TagLib::MP4::Tag* tag = file.tag();
    const std::pair<const char*, const QString&> texts[] = {{"\251nam", tags.title},
                                                            {"\251ART", tags.artist},
                                                            {"\251day", tags.date},
                                                            {"\251cmt", tags.comment}};
    for (const auto& [key, text] : texts)
        if (!text.isEmpty())
            tag->setItem(
                key, TagLib::StringList(TagLib::String(text.toStdString(), TagLib::String::UTF8)));
    if (!picture.isEmpty()) {
        const TagLib::MP4::CoverArt cover(
            jpeg ? TagLib::MP4::CoverArt::JPEG : TagLib::MP4::CoverArt::PNG,
            TagLib::ByteVector(picture.constData(), static_cast<unsigned>(picture.size())));
        tag->setItem("covr", TagLib::MP4::Item(TagLib::MP4::CoverArtList().append(cover)));
    }
    if (file.save())
        return MediaError::None;
    qCWarning(lcMedia) << "TagLib could not save the tags and cover art of" << path;
    return MediaError::IOError;
}

// GStreamer's MPEG-4 reader drops each packet that starts, counted from the start of the media
// rather than of the edit list, at or after the movie's length: the last packet of sound, which
// the encoder's delay puts `extra` - 1 frames after the sound's length.
MediaError lengthenMovie(const QString& path, int64_t extra) {
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite)) {
        qCWarning(lcMedia) << "cannot reopen" << path << "to set its length:" << file.errorString();
        return MediaError::IOError;
    }
    // The muxer writes the movie box before the audio (faststart), its header first in it.
    qint64 moov = 0;
    QByteArray head = file.read(8);
    while (head.size() == 8 && head.mid(4, 4) != "moov") {
        const quint32 size = qFromBigEndian<quint32>(head.constData());
        if (size < 8 || !file.seek(moov + size))
            break;
        moov += size;
        head = file.read(8);
    }
    const QByteArray mvhd = file.read(40);
    // Version 0 keeps the length in 32 bits after three 32-bit fields, version 1 in 64 after two
    // 64-bit and one 32-bit field.
    const bool wide = mvhd.size() > 8 && mvhd[8] == 1;
    const qint64 at = wide ? 32 : 24;
    if (head.mid(4, 4) != "moov" || mvhd.mid(4, 4) != "mvhd" || mvhd.size() < at + (wide ? 8 : 4)) {
        qCWarning(lcMedia) << path << "has no movie header";
        return MediaError::InvalidFile;
    }
    QByteArray length(wide ? 8 : 4, Qt::Uninitialized);
    if (wide)
        qToBigEndian(qFromBigEndian<quint64>(mvhd.constData() + at) + quint64(extra),
                     length.data());
    else
        qToBigEndian(quint32(qFromBigEndian<quint32>(mvhd.constData() + at) + quint32(extra)),
                     length.data());
    if (file.seek(moov + 8 + at) && file.write(length) == length.size() && file.flush())
        return MediaError::None;
    qCWarning(lcMedia) << "cannot write the length of" << path << ":" << file.errorString();
    return MediaError::IOError;
}

} // namespace zwirl::media
