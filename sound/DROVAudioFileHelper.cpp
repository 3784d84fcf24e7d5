#include "sound/DROVAudioFileHelper.h"

#include "services/DROVHelper.h"
#include "sound/ClickToneRenderer.h"
#include "sound/EAFWrite.h"
#include "sound/SoundLog.h"

#include <QBuffer>
#include <QUrl>
#include <array>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace zwirl {

namespace {

// Frames rendered and handed to the writer at a time: the tone is never held whole.
constexpr int64_t kSliceFrames = 8192;

// Slices rendered on a thread of their own while the writer encodes the ones before, so that
// rendering and encoding run side by side; the renderer stays at most kCount slices ahead.
class RenderAhead {
public:
    explicit RenderAhead(const Samples& samples) : m_renderer(samples) {
        for (std::vector<float>& slice : m_slices)
            slice.resize(size_t(kSliceFrames));
        m_thread = std::thread([this] { run(); });
    }
    ~RenderAhead() {
        {
            const std::lock_guard lock(m_mutex);
            m_stopped = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }

    // The next slice and its length, 0 at the end; valid until release().
    float* next(int64_t& frames) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_rendered > m_taken; });
        frames = m_lengths[m_taken % kCount];
        return m_slices[m_taken % kCount].data();
    }
    void release() {
        {
            const std::lock_guard lock(m_mutex);
            ++m_taken;
        }
        m_changed.notify_all();
    }

private:
    static constexpr int64_t kCount = 4;

    void run() {
        for (int64_t frames = 1; frames > 0;) {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] { return m_stopped || m_rendered - m_taken < kCount; });
            if (m_stopped)
                return;
            const int64_t index = m_rendered % kCount;
            lock.unlock();
            frames = m_renderer.render(m_slices[index].data(), kSliceFrames);
            lock.lock();
            m_lengths[index] = frames;
            ++m_rendered;
            lock.unlock();
            m_changed.notify_all();
        }
    }

    ClickToneRenderer m_renderer;
    std::array<std::vector<float>, kCount> m_slices;
    std::array<int64_t, kCount> m_lengths{};
    int64_t m_rendered = 0;
    int64_t m_taken = 0;
    bool m_stopped = false;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::thread m_thread;
};

QByteArray jpegOf(const QImage& picture) {
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    if (picture.isNull() || !picture.save(&buffer, "JPEG"))
        return {};
    return data;
}

} // namespace

float DROVAudioFileHelper::newFreq(float s) {
    // Two single-precision multiplications, each rounded, as the live tone has always had it.
    volatile float hundredfold = s * 100.0f;
    volatile float thousandfold = hundredfold * 10.0f;
    return thousandfold + 50.0f;
}

bool DROVAudioFileHelper::writeSamplesToFile(const Samples& samples, const QString& filePath) {
    // The picture is drawn while the sound is rendered and encoded; it goes into the file after.
    std::future<QImage> picture =
        std::async(std::launch::async, DROVHelper::iconImageForSamples, std::cref(samples), true);
    return writeSamples(samples, filePath, [&picture] { return picture.get(); });
}

bool DROVAudioFileHelper::writeSamplesToFile(const Samples& samples, const QString& filePath,
                                             const QImage& artwork) {
    return writeSamples(samples, filePath, [&artwork] { return artwork; });
}

bool DROVAudioFileHelper::writeSamples(const Samples& samples, const QString& filePath,
                                       const std::function<QImage()>& artwork) {
    if (samples.empty()) {
        qCWarning(lcSound) << "no clicks to write to" << filePath;
        return false;
    }
    EAFWrite writer;
    // Failures of the open and the writes are printed by the writer itself.
    OSStatus status =
        writer.openFileForWrite(QUrl::fromLocalFile(filePath), 44100.0, 1, 16, kAudioFileM4AType);
    if (status == noErr) {
        RenderAhead slices(samples);
        for (int64_t frames = 1; status == noErr && frames > 0; slices.release()) {
            float* channels[] = {slices.next(frames)};
            if (frames > 0)
                status = writer.writeFloats(frames, channels);
        }
    }

    const QByteArray jpeg = jpegOf(artwork());
    if (!jpeg.isEmpty()) {
        qCInfo(lcSound) << "set data";
        media::AudioFileWriter* file = writer.audioFileId();
        const OSStatus set = file ? statusFor(file->setCoverArt(jpeg)) : kAudioFileNotOpenError;
        if (set == noErr)
            qCInfo(lcSound, "audioErr: %d", int(set));
        else
            qCWarning(lcSound, "audioErr: %d", int(set));
    }
    const OSStatus closed = writer.closeFile();
    return status == noErr && closed == noErr;
}

} // namespace zwirl
