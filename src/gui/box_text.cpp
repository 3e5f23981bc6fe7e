#include "gui/box_text.h"

#include <QAbstractButton>
#include <QByteArray>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QVariant>

#include "text/encoding.h"

namespace qv {
namespace {

constexpr const char* kBytesProperty = "_qv_bytes";
constexpr const char* kShownProperty = "_qv_shown";
// The line ends of the text last put into a multi-line box, in order: 'c' CR LF, 'r' CR, 'n' LF.
constexpr const char* kBreaksProperty = "_qv_breaks";

QByteArray LineEndsOf(std::string_view text) {
  QByteArray ends;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      const bool pair = i + 1 < text.size() && text[i + 1] == '\n';
      ends.append(pair ? 'c' : 'r');
      if (pair) ++i;
    } else if (text[i] == '\n') {
      ends.append('n');
    }
  }
  return ends;
}
constexpr const char* kPuttingProperty = "_qv_putting";

QString LineBreaksShown(QString s) {
  s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return s;
}

// Puts `shown` into the widget; returns what the widget now holds (some normalise it).
QString Put(QWidget* w, const Text& text) {
  if (auto* e = qobject_cast<QLineEdit*>(w)) {
    e->setText(QStringFromGbk(text));
    return e->text();
  }
  if (auto* e = qobject_cast<QPlainTextEdit*>(w)) {
    e->setPlainText(LineBreaksShown(QStringFromGbk(text)));
    return e->toPlainText();
  }
  if (auto* e = qobject_cast<QTextEdit*>(w)) {
    e->setPlainText(LineBreaksShown(QStringFromGbk(text)));
    return e->toPlainText();
  }
  if (auto* l = qobject_cast<QLabel*>(w)) {
    l->setText(CaptionFromGbk(text));
    return l->text();
  }
  if (auto* b = qobject_cast<QAbstractButton*>(w)) {
    b->setText(CaptionFromGbk(text).replace(QLatin1Char('&'), QStringLiteral("&&")));
    return b->text();
  }
  if (auto* g = qobject_cast<QGroupBox*>(w)) {
    g->setTitle(CaptionFromGbk(text).replace(QLatin1Char('&'), QStringLiteral("&&")));
    return g->title();
  }
  w->setWindowTitle(CaptionFromGbk(text));
  return w->windowTitle();
}

QString Shown(const QWidget* w) {
  if (auto* e = qobject_cast<const QLineEdit*>(w)) return e->text();
  if (auto* e = qobject_cast<const QPlainTextEdit*>(w)) return e->toPlainText();
  if (auto* e = qobject_cast<const QTextEdit*>(w)) return e->toPlainText();
  if (auto* l = qobject_cast<const QLabel*>(w)) return l->text();
  if (auto* b = qobject_cast<const QAbstractButton*>(w)) return b->text();
  if (auto* g = qobject_cast<const QGroupBox*>(w)) return g->title();
  return w->windowTitle();
}

// The text a changed widget holds, as the program reads it.
QString Readable(const QWidget* w, QString shown) {
  if (qobject_cast<const QPlainTextEdit*>(w) != nullptr ||
      qobject_cast<const QTextEdit*>(w) != nullptr) {
    // The k-th line break keeps the line end the k-th break of the text put in had (a lone CR
    // stays a lone CR when the user edits elsewhere in the box); further breaks are CR LF.
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    const QByteArray ends = w->property(kBreaksProperty).toByteArray();
    QString out;
    out.reserve(shown.size() + 16);
    qsizetype k = 0;
    for (QChar ch : shown) {
      if (ch != QLatin1Char('\n')) {
        out.append(ch);
        continue;
      }
      const char end = k < ends.size() ? ends[k] : 'c';
      ++k;
      out.append(end == 'r' ? QStringLiteral("\r") : end == 'n' ? QStringLiteral("\n")
                                                              : QStringLiteral("\r\n"));
    }
    return out;
  }
  if (qobject_cast<const QAbstractButton*>(w) != nullptr ||
      qobject_cast<const QGroupBox*>(w) != nullptr) {
    shown.replace(QStringLiteral("&&"), QStringLiteral("&"));
  }
  return shown;
}

}  // namespace

QString QStringFromGbk(std::string_view gbk) {
  const std::u16string u = GbkToUtf16(gbk);
  return QString(reinterpret_cast<const QChar*>(u.data()), static_cast<qsizetype>(u.size()));
}

Text GbkFromQString(const QString& s) {
  return Utf16ToGbk(std::u16string_view(reinterpret_cast<const char16_t*>(s.utf16()),
                                        static_cast<size_t>(s.size())));
}

QString CaptionFromGbk(std::string_view gbk) { return LineBreaksShown(QStringFromGbk(gbk)); }

void SetWidgetText(QWidget* widget, const Text& text) {
  if (widget == nullptr) return;
  // Remembered before the put: a text-changed handler that the put runs reads the new bytes.
  widget->setProperty(kBytesProperty, QByteArray(text.data(), static_cast<qsizetype>(text.size())));
  widget->setProperty(kBreaksProperty, LineEndsOf(text));
  widget->setProperty(kPuttingProperty, true);
  const QString shown = Put(widget, text);
  widget->setProperty(kPuttingProperty, QVariant());
  widget->setProperty(kShownProperty, shown);
}

Text WidgetText(const QWidget* widget) {
  if (widget == nullptr) return {};
  const QString shown = Shown(widget);
  const bool putting = widget->property(kPuttingProperty).toBool();
  const QVariant remembered = widget->property(kShownProperty);
  if (putting || (remembered.isValid() && remembered.toString() == shown)) {
    const QByteArray bytes = widget->property(kBytesProperty).toByteArray();
    return Text(bytes.constData(), static_cast<size_t>(bytes.size()));
  }
  return GbkFromQString(Readable(widget, shown));
}

}  // namespace qv
