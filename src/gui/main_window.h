// The main window: every control by its Chinese name (its objectName), the chapter table, and
// the handling of the window's own events.
#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <utility>

#include "gui/chapter_model.h"
#include "gui/qt_ports.h"
#include "shell/settings.h"

class QLabel;
class QShortcut;
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

  // The settings file "设置.ini" beside the rule file; the window reads it when it is made and
  // writes it when it closes (the save folder also when it is chosen).
  static std::filesystem::path SettingsPath();
  Settings& settings() { return settings_; }

  // The folder books are saved in (empty: the program's folder), shown beside 按钮_保存到.
  QString SaveFolder() const { return saveFolder_; }
  Text SaveFolderText() const;
  // False (and unchanged) for a folder whose name has characters CP936 cannot hold.
  bool SetSaveFolder(const QString& folder);
  // 按钮_保存到: the folder dialog, then the choice kept.
  void ChooseSaveFolder();
  // Tests answer the folder dialog through this (empty: the real dialog). Returns the chosen
  // folder, empty when cancelled.
  using FolderPicker = std::function<QString(QWidget* parent, const QString& current)>;
  static void SetFolderPickerForTesting(FolderPicker picker);

  // A download run is active (its pause button is enabled).
  bool RunActive() const;
  // Closes without the question about a run under way (the session is ending).
  void CloseWithoutAsking();

 signals:
  // The window has closed and its about-to-be-destroyed handling has run: the program ends.
  void closed();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Build();
  // Number and status columns as wide as their header and their longest content.
  void FitNumberAndStatusColumns();
  // Enter in the address box, the access keys and shortcuts, the tab order.
  void InstallKeys();
  void ApplySettings();
  void SaveSettings();
  void UpdateSpeed();
  static FolderPicker& FolderPickerSlot();
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
  QShortcut* spaceKey_ = nullptr;
  QLabel* speed_ = nullptr;
  QLabel* saveFolderLabel_ = nullptr;
  QTimer speedTimer_;
  QElapsedTimer runClock_;
  std::deque<std::pair<qint64, int>> samples_;  // (ms since the run began, chapters done)
  QString saveFolder_;
  bool closeWithoutAsking_ = false;
  bool columnsFitted_ = false;
  std::unique_ptr<QtChapterTable> table_;
  std::unique_ptr<QtControls> controls_;
  bool created_ = false;
  bool closing_ = false;
  bool destroyHandled_ = false;
};

}  // namespace qv
