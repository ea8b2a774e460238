// The library's process-wide state and the one entry point every command
// function passes through.
//
// GUI thread only. GStreamer's threads never reach this state: they hand
// frames and bus messages to the GUI thread (see Player).
#ifndef VIDEO_CONTROL_VCLIBRARY_H
#define VIDEO_CONTROL_VCLIBRARY_H

#include "VcError.h"
#include "video_control.h"

#include <QJsonObject>
#include <QSet>
#include <QString>

class QImage;
class QWidget;

namespace vc {

class PlayGrid;
class Player;

// A command on one widget's grid of play windows. Answers the result object;
// an empty object becomes the null result (success without keys).
using GridCommand = QJsonObject (*)(PlayGrid& grid, const QJsonObject& request);
// A command without a widget.
using GlobalCommand = QJsonObject (*)(const QJsonObject& request);

// Every command function runs through one of these: the test seam sees the
// call first (and may answer in its place), then a widget that was not
// initialised answers NotInitialized. A request document that holds an array
// (a layout) reaches the command as {"layout": array}.
QJsonDocument* runGridCommand(const char* szName, QWidget* pWidget, const QJsonDocument* pRequest, GridCommand command);
QJsonDocument* runGlobalCommand(const char* szName, const QJsonDocument* pRequest, GlobalCommand command);
// A command without a widget that answers later through pfnAnswer: the
// empty object when it will, else its error at once. The seam may answer
// at once in its place.
using LaterCommand = QJsonObject (*)(const QJsonObject& request, QObject* pContext, VC_AnswerCallback pfnAnswer);
QJsonDocument* runLaterCommand(const char* szName, const QJsonDocument* pRequest, QObject* pContext,
                               VC_AnswerCallback pfnAnswer, LaterCommand command);

// The grid the library made for a widget in VC_Initialize, or null.
PlayGrid* gridOf(QWidget* pWidget);
// Makes (again) the grid of a widget; a null widget only starts GStreamer.
void initializeWidget(QWidget* pWidget);

// Calls the callback installed for the type, if any, with the widget the
// service gave to VC_Initialize.
void fireEvent(VC_EventType eType, QWidget* pWidget, const QJsonObject& data);

// Whether VC_Initialize was called for the widget (null: the start-up call).
bool isInitialized(QWidget* pWidget);
// The callback installed for the type, or null.
VC_EventCallback eventCallback(VC_EventType eType);

// Forgets every widget (their play windows stop and go), every installed
// callback, the secret keys, the files the user chose and the transfers
// (stopped); cancels an open file dialog. The media folders stay.
void resetLibrary();

// Where the test hooks (the separate video_control_testhooks library, never
// linked into the service) plug in; all null in the service.
using PaintObserver = void (*)(QWidget* pWidget, int iWndIndex, const QImage& picture);
struct TestSeam {
    // Sees every call of a command function (and of VC_Initialize, with
    // pScripted null) before it runs; answering true with *pScripted filled
    // makes the function answer that instead.
    bool (*pCall)(const char* szName, QWidget* pWidget, const QJsonDocument* pRequest,
                  QJsonObject* pScripted) = nullptr;
    // Called after a play window painted a picture it had not painted before.
    PaintObserver pPaintObserver = nullptr;
    // Transfers may go to this machine (a test's HTTP server).
    bool bAllowLocalTransfers = false;
    // Players that count as playing without a stream, until their next play
    // or stop.
    QSet<const Player*> pretendPlaying;
};
TestSeam& testSeam();

// Closes the open file dialog as the user would, strPath chosen (the empty
// text: cancelled). False when no dialog is open. For the test hooks.
bool finishFileDialog(const QString& strPath);
bool fileDialogOpen();

}  // namespace vc

// Defines a command function of the library's interface over a command (a
// null command: the function answers null).
#define VC_DEFINE_WIDGET_REQUEST(name, command)                                       \
    extern "C" QJsonDocument* name(QWidget* pWidget, const QJsonDocument* pRequest) { \
        return vc::runGridCommand(#name, pWidget, pRequest, command);                 \
    }
#define VC_DEFINE_WIDGET(name, command)                              \
    extern "C" QJsonDocument* name(QWidget* pWidget) {               \
        return vc::runGridCommand(#name, pWidget, nullptr, command); \
    }
#define VC_DEFINE_REQUEST(name, command)                            \
    extern "C" QJsonDocument* name(const QJsonDocument* pRequest) { \
        return vc::runGlobalCommand(#name, pRequest, command);      \
    }
#define VC_DEFINE_LATER(name, command)                                                                              \
    extern "C" QJsonDocument* name(const QJsonDocument* pRequest, QObject* pContext, VC_AnswerCallback pfnAnswer) { \
        return vc::runLaterCommand(#name, pRequest, pContext, pfnAnswer, command);                                  \
    }
#define VC_DEFINE_NO_ARGUMENT(name, command)                  \
    extern "C" QJsonDocument* name() {                        \
        return vc::runGlobalCommand(#name, nullptr, command); \
    }

#endif  // VIDEO_CONTROL_VCLIBRARY_H
