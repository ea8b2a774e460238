// Test hooks of the video library (video_control). Not part of the library's
// interface: they live in the library video_control_testhooks, which only
// tests and localservice-testhooks link (linking it turns them on).
#ifndef VIDEO_CONTROL_TEST_H
#define VIDEO_CONTROL_TEST_H

#include "video_control.h"

#include <QImage>
#include <QJsonObject>
#include <QString>

// Calls the callback installed for eType as the library would, with the
// widget and the data document. Returns false when no callback is installed.
bool VC_Test_FireEvent(VC_EventType eType, QWidget* pWidget, const QJsonDocument& data);

// Whether VC_Initialize was called for the widget.
bool VC_Test_IsInitialized(QWidget* pWidget);

// Name of the last command function called for the widget (null widget: the
// calls without one), or the empty text.
QString VC_Test_LastCall(QWidget* pWidget);

// The request document the last command function called for the widget
// received (null widget: the calls without one); a null document when that
// function takes none, or nothing was called.
QJsonDocument VC_Test_LastRequest(QWidget* pWidget);

// From now on every call of the named command function ("VC_Play") answers
// a copy of result instead of its own answer. An empty object removes the
// script of that function.
void VC_Test_ScriptResult(const QString& strFunction, const QJsonObject& result);

// Makes VC_IsWindowPlaying answer bPlaying for a play window without a
// stream (for tests of the service's full-screen switch); a real play or
// stop of that window ends it.
void VC_Test_SetWindowPlaying(QWidget* pWidget, int iWndIndex, bool bPlaying);

// Called after a play window painted a picture it had not painted before,
// with the service's widget, the play window and the picture.
typedef void (*VC_Test_PaintObserver)(QWidget* pWidget, int iWndIndex, const QImage& picture);
void VC_Test_SetPaintObserver(VC_Test_PaintObserver pObserver);

// Records strPath as chosen by the user for the page strUuid, as the file
// dialog of VC_OpenFileBrowser does when the user picks it.
void VC_Test_ChooseFile(const QString& strUuid, const QString& strPath);

// Lets transfers go to this machine (a test's own HTTP server), which the
// library refuses otherwise; VC_Test_Reset ends it.
void VC_Test_AllowLocalTransfers(bool bAllow);

// Closes the open file dialog of VC_OpenFileBrowser as the user would, with
// strPath chosen (the empty text: cancelled): its answer goes out as for a
// real choice. False when no dialog is open.
bool VC_Test_AnswerFileDialog(const QString& strPath);
// Whether a file dialog of VC_OpenFileBrowser is open.
bool VC_Test_FileDialogOpen();

// Forgets every widget, every installed callback, every recorded call and
// every scripted result, the paint observer, the secret keys, the files the
// user chose and the transfers; the play windows of the widgets stop and go,
// transfers stop, an open file dialog is cancelled.
void VC_Test_Reset();

#endif  // VIDEO_CONTROL_TEST_H
