// A preview player on a scripted graph, owned by a stand-in main window that records what the
// preview posts to it; with a hand-set clock. Shared by the preview's test programs.
#pragma once

#include <QCoreApplication>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "media/fake/fakefiltergraph.h"
#include "platform/desktop/testing/fakemessageboxes.h"
#include "platform/desktop/windowmessage.h"
#include "preview/previewplayer.h"
#include "preview/previewwindow.h"

// The offscreen platform warns about every raise and size hint it cannot carry out; the
// preview makes many. Other messages pass.
inline void IgnoreUnsupportedWindowCalls() {
    static QtMessageHandler previous = nullptr;
    previous = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext& context, const QString& text) {
            if (type == QtWarningMsg && text.startsWith(u"This plugin does not support")) {
                return;
            }
            if (previous != nullptr) {
                previous(type, context, text);
            }
        });
}

// The main window as the preview sees it: a window that receives posted messages.
class COwnerWindow final : public QWidget {
public:
    struct CMessage {
        unsigned nMessage;
        quintptr wParam;
        qintptr lParam;
    };

    std::vector<CMessage> messages;

    int Count(unsigned nMessage, quintptr wParam = 0) const {
        int count = 0;
        for (const CMessage& message : messages) {
            count += message.nMessage == nMessage && message.wParam == wParam ? 1 : 0;
        }
        return count;
    }

protected:
    void customEvent(QEvent* pEvent) override {
        if (pEvent->type() == CWindowMessageEvent::EventType()) {
            const auto* pMessage = static_cast<CWindowMessageEvent*>(pEvent);
            messages.push_back({pMessage->Message(), pMessage->WParam(), pMessage->LParam()});
        }
    }
};

class CPlayerRig {
public:
    explicit CPlayerRig(IFilterGraphFactory* pFactory = nullptr) {
        owner.setGeometry(200, 500, 400, 300);
        owner.show();
        CPreviewContext context;
        context.pOwner = &owner;
        context.pMessageBoxes = &boxes;
        context.pGraphFactory = pFactory != nullptr ? pFactory : &factory;
        context.timeGetTime = [this] { return now; };
        player = std::make_unique<CPreviewPlayer>(std::move(context));
    }

    // Opens the file; 1 on success, as Open says.
    int Open(const std::string& path = "/media/rec/show.mpg") {
        path.copy(player->m_szFile, sizeof player->m_szFile - 1);
        player->m_szFile[path.size()] = '\0';
        return player->Open();
    }

    CFakeFilterGraph& Graph() { return factory.Graph(); }
    CPreviewWindow* Window() { return player->Window(); }
    QString Title() { return Window()->windowTitle(); }

    // Delivers what is posted to the windows: graph notices, menu commands, messages.
    static void Deliver() {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }

    CFakeFilterGraphFactory factory;
    CFakeMessageBoxes boxes;
    COwnerWindow owner;
    std::uint32_t now = 5000;
    std::unique_ptr<CPreviewPlayer> player;
};
