// The main window: every control by its Chinese name (its objectName), the chapter table, and
// the handling of the window's own events.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>

#include "gui/chapter_model.h"
#include "gui/qt_ports.h"
#include "shell/settings.h"

class QTableView;

namespace qv {

class MainWindow;

// The steps that the rule-settings window and the download engine attach to the main window's
// events. Each may be left empty; the window then runs only the steps that exist.
struct MainWindowHooks {
  // Created, in this order: loadRuleWindow; the rule file is ensured; fillRuleList;
  // lookUpAddress (also run on every text change of 编辑框_章节列表网址).
  std::function<void(MainWindow&)> loadRuleWindow;
  std::function<void(MainWindow&)> fillRuleList;
  std::function<void(MainWindow&)> lookUpAddress;
  // Every move and resize of the main window.
  std::function<void(MainWindow&)> placeRuleWindow;
  // The main window became the active window.
  std::function<void(MainWindow&)> raiseRuleWindow;
  // 按钮_选择规则 clicked.
  std::function<void(MainWindow&)> toggleRuleWindow;
  // About to be destroyed, in this order: stopPoolOnClose, destroyRuleWindow.
  std::function<void(MainWindow&)> stopPoolOnClose;
  std::function<void(MainWindow&)> destroyRuleWindow;
};

class MainWindow : public QWidget {
  Q_OBJECT

 public:
  // Builds every control in its initial state, then runs the created handling.
  explicit MainWindow(MainWindowHooks hooks = {}, QWidget* parent = nullptr);
  // Runs the about-to-be-destroyed handling if closing did not.
  ~MainWindow() override;

  // The chapter table 超级列表框1 and the controls by role, for any thread.
  QtChapterTable& table() { return *table_; }
  QtControls& controls() { return *controls_; }
  ChapterModel* chapterModel() const { return model_; }
  QTableView* chapterView() const { return view_; }
  // 互联网浏览器1: the hidden, disabled container the page-capture browser is created in.
  QWidget* browserHost() const { return browserHost_; }
  // A control by its Chinese name (UTF-8 in the source, e.g. "按钮_下载章节内容"); null if none.
  QWidget* Find(const char* name) const;
  template <class W>
  W* Find(const char* name) const {
    return qobject_cast<W*>(Find(name));
  }

  // The window's size when the program starts.
  static QSize StartSize();

  // The settings file as the window keeps it.
  const Settings& settings() const { return settings_; }

 signals:
  // The window has closed and its about-to-be-destroyed handling has run: the program ends.
  void closed();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void Build();
  void RegisterRoles();
  void RunCreatedHandling();
  void RunWillBeDestroyed();
  void Run(const std::function<void(MainWindow&)>& step);
  void ExitButtonClicked();
  void MergeCheckClicked();
  void FormatCheckClicked();

  MainWindowHooks hooks_;
  // "设置.ini" beside the rule file, read when the window is made.
  Settings settings_;
  ChapterModel* model_ = nullptr;
  QTableView* view_ = nullptr;
  QWidget* browserHost_ = nullptr;
  std::unique_ptr<QtChapterTable> table_;
  std::unique_ptr<QtControls> controls_;
  bool created_ = false;
  bool closing_ = false;
  bool destroyHandled_ = false;
};

}  // namespace qv
