// Names of the interface identifiers, for logs and messages.
#include "media/mediainterfaces.h"

const char* InterfaceName(REFIID riid) {
    switch (riid) {
        case IID::IUnknown:
            return "IID_IUnknown";
        case IID::IGraphBuilder:
            return "IID_IGraphBuilder";
        case IID::IMediaControl:
            return "IID_IMediaControl";
        case IID::IMediaEventEx:
            return "IID_IMediaEventEx";
        case IID::IMediaSeeking:
            return "IID_IMediaSeeking";
        case IID::IVideoWindow:
            return "IID_IVideoWindow";
        case IID::IBasicVideo:
            return "IID_IBasicVideo";
        case IID::IBasicAudio:
            return "IID_IBasicAudio";
        case IID::IVideoFrameStep:
            return "IID_IVideoFrameStep";
    }
    return "IID_unknown";
}
