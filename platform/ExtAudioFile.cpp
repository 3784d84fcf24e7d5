#include "platform/ExtAudioFile.h"

#include "platform/AudioFileDecoder.h"
#include "platform/AudioFileEncoder.h"

ExtAudioFile::ExtAudioFile() = default;

ExtAudioFile::~ExtAudioFile() {
    dispose();
}

OSStatus ExtAudioFile::wrapAudioFileID(AudioFileID file, bool forWriting,
                                       std::unique_ptr<ExtAudioFile>& outFile) {
    outFile.reset();
    if (!file || !forWriting)
        return kAudioFileParamError;
    std::unique_ptr<ExtAudioFile> wrapped(new ExtAudioFile);
    wrapped->m_encoder = std::make_unique<AudioFileEncoder>(file);
    if (const OSStatus status = wrapped->m_encoder->open())
        return status;
    outFile = std::move(wrapped);
    return noErr;
}

OSStatus ExtAudioFile::openURL(const QString& path, std::unique_ptr<ExtAudioFile>& outFile) {
    outFile.reset();
    std::unique_ptr<ExtAudioFile> opened(new ExtAudioFile);
    opened->m_decoder = std::make_unique<AudioFileDecoder>();
    if (const OSStatus status = opened->m_decoder->open(path))
        return status;
    outFile = std::move(opened);
    return noErr;
}

OSStatus ExtAudioFile::setClientDataFormat(const AudioStreamBasicDescription& format) {
    if (m_encoder)
        return m_encoder->setClientFormat(format);
    return m_decoder->setClientFormat(format);
}

OSStatus ExtAudioFile::getFileDataFormat(AudioStreamBasicDescription& format) const {
    if (!m_decoder)
        return kAudioFileUnsupportedPropertyError;
    format = m_decoder->fileFormat();
    return noErr;
}

OSStatus ExtAudioFile::getFileLengthFrames(int64_t& frames) const {
    if (!m_decoder)
        return kAudioFileUnsupportedPropertyError;
    frames = m_decoder->lengthFrames();
    return noErr;
}

OSStatus ExtAudioFile::getConverterPrimeInfo(AudioConverterPrimeInfo& info) const {
    if (!m_decoder)
        return kAudioConverterErr_PropertyNotSupported;
    info.leadingFrames = m_decoder->primingFrames();
    info.trailingFrames = 0;
    return noErr;
}

OSStatus ExtAudioFile::write(uint32_t frames, const AudioBufferList& data) {
    if (!m_encoder)
        return kAudioFileParamError;
    return m_encoder->write(frames, data);
}

OSStatus ExtAudioFile::read(uint32_t& frames, AudioBufferList& data) {
    if (!m_decoder) {
        frames = 0;
        return kAudioFileParamError;
    }
    return m_decoder->read(frames, data);
}

OSStatus ExtAudioFile::seek(int64_t frame) {
    if (!m_decoder)
        return kAudioFileParamError;
    return m_decoder->seek(frame - int64_t(m_decoder->primingFrames()));
}

OSStatus ExtAudioFile::dispose() {
    return m_encoder ? m_encoder->finish() : noErr;
}
