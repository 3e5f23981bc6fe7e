// CP936 text in and out of widgets: the one place where text crosses into Qt.
//
// Every box returns exactly the bytes put into it. SetWidgetText remembers the CP936 bytes
// together with the string the widget shows for them; WidgetText gives those bytes back while
// the widget still shows that string, and converts the widget's text only once it changed.
// So a text the conversion could not carry (bytes CP936 has no character for, line ends a
// box does not keep) survives a round trip through the box.
#pragma once

#include <QString>

#include "text/gbk_text.h"

class QWidget;

namespace qv {

// Plain conversions (through GbkToUtf16 / Utf16ToGbk).
QString QStringFromGbk(std::string_view gbk);
Text GbkFromQString(const QString& s);
// A caption for display: CR LF and a lone CR become line breaks.
QString CaptionFromGbk(std::string_view gbk);

// Text of an edit box (QLineEdit, QPlainTextEdit, QTextEdit), caption of a label, button,
// check box or group box, else the widget's window title.
//
// Multi-line boxes show CR LF as a line break and give line breaks typed by the user back as
// CR LF, as a multi-line edit box of the desktop does. Buttons show "&" literally.
void SetWidgetText(QWidget* widget, const Text& text);
Text WidgetText(const QWidget* widget);

}  // namespace qv
