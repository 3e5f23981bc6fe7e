#include "app/gui/box_text.h"

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
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return shown;
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
