#include "media/Mp4CoverArt.h"

#include <QFile>
#include <taglib/mp4file.h>

namespace zwirl::media {

MediaError Mp4CoverArt::embed(const QString& path, const QByteArray& picture) {
    const bool jpeg = picture.startsWith("\xFF\xD8\xFF");
    if (!jpeg && !picture.startsWith("\x89PNG"))
        return MediaError::UnsupportedFormat;
    TagLib::MP4::File file(QFile::encodeName(path).constData(), false);
    if (!file.isValid() || !file.tag())
        return MediaError::InvalidFile;
    TagLib::MP4::CoverArtList covers;
    covers.append(TagLib::MP4::CoverArt(
        jpeg ? TagLib::MP4::CoverArt::JPEG : TagLib::MP4::CoverArt::PNG,
        TagLib::ByteVector(picture.constData(), static_cast<unsigned>(picture.size()))));
    file.tag()->setItem("covr", TagLib::MP4::Item(covers));
    return file.save() ? MediaError::None : MediaError::IOError;
}

} // namespace zwirl::media
