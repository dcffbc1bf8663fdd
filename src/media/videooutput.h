// Where a graph's pictures go: the core decodes, an output (a widget, a test) shows them.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "media/mediainterfaces.h"

// One decoded picture, 32 bits a pixel in memory order B, G, R, x (QImage::Format_RGB32 on a
// little-endian machine). Immutable once delivered, so it can be shared between threads.
struct CVideoFrame {
    int m_nWidth = 0;
    int m_nHeight = 0;
    int m_nBytesPerLine = 0;
    std::vector<std::uint8_t> m_pixels;  // m_nHeight rows of m_nBytesPerLine bytes
};

// What the video window calls have set, applied by the output on the GUI thread.
struct CVideoWindowState {
    OAHWND m_hOwner = nullptr;
    OAHWND m_hMessageDrain = nullptr;
    bool m_bVisible = true;
    long m_nStyle = 0;
    long m_nLeft = 0;
    long m_nTop = 0;
    long m_nWidth = 0;
    long m_nHeight = 0;
};

class IVideoOutput {
public:
    virtual ~IVideoOutput() = default;
    // From a streaming thread, for the first picture while the graph cues (paused) and for
    // every picture while it plays. Must return at once; may drop pictures the receiver has
    // no time for, but must not queue them without bound.
    virtual void PresentFrame(std::shared_ptr<const CVideoFrame> frame) = 0;
    // From the graph's thread (the GUI thread) after each video window call that changes
    // something. The output is destroyed only after the graph's streaming threads have
    // stopped, on the graph's thread.
    virtual void ApplyWindowState(const CVideoWindowState& state) = 0;
};
