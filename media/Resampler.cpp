// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/Resampler.h"

#include <algorithm>
#include <cmath>

namespace zwirl::media {

Resampler::InputForm Resampler::formOf(const AVFrame* frame) {
    const AVChannelLayout& layout = frame->ch_layout;
    return {frame->format, frame->sample_rate, layout.nb_channels, int(layout.order),
            layout.order == AV_CHANNEL_ORDER_NATIVE ? layout.u.mask : 0};
}

MediaError Resampler::make(const AVFrame* frame, double rate, int channels) {
    m_context.reset();
    const InputForm form = formOf(frame);
    AVChannelLayout outLayout{}, inLayout{};
    av_channel_layout_default(&outLayout, channels);
    if (form.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&inLayout, form.channels);
    else
        av_channel_layout_copy(&inLayout, &frame->ch_layout);
    SwrContext* made = nullptr;
    int error = swr_alloc_set_opts2(&made, &outLayout, AV_SAMPLE_FMT_S16, int(std::lround(rate)),
                                    &inLayout, AVSampleFormat(form.format), form.rate, 0, nullptr);
    FFmpegPtr<SwrContext> context(made);
    av_channel_layout_uninit(&inLayout);
    av_channel_layout_uninit(&outLayout);
    if (error < 0)
        return errorFromAv(error, "swr_alloc_set_opts2");
    error = swr_init(context.get());
    if (error < 0)
        return errorFromAv(error, "swr_init");
    m_context = std::move(context);
    m_input = form;
    m_channels = channels;
    return MediaError::None;
}

MediaError Resampler::convert(const uint8_t** input, int count, int& produced) {
    const int capacity = std::max(swr_get_out_samples(m_context.get(), count), 1024);
    if (m_output.size() < size_t(capacity) * size_t(m_channels))
        m_output.resize(size_t(capacity) * size_t(m_channels));
    auto* out = reinterpret_cast<uint8_t*>(m_output.data());
    produced = swr_convert(m_context.get(), &out, capacity, input, count);
    const MediaError error = errorFromAv(produced, "swr_convert");
    produced = std::max(produced, 0);
    return error;
}

} // namespace zwirl::media
