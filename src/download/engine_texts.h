// The captions, status texts and messages of the download engine, in CP936.
#pragma once

#include "text/encoding.h"
#include "text/gbk_text.h"

namespace qv {

// The captions and messages, in CP936.
struct EngineTexts {
  Text downloading = Utf8ToGbk("正在下载");
  Text retrying = Utf8ToGbk("重试下载");
  Text givenUp = Utf8ToGbk("失败3次");
  Text reasonSeparator = Utf8ToGbk("：");
  Text noContent = Utf8ToGbk("未找到正文");
  Text emptyPage = Utf8ToGbk("页面为空");
  Text pageNotLoaded = Utf8ToGbk("页面加载超时");
  Text stopped = Utf8ToGbk("已停止");
  Text saved = Utf8ToGbk("下载完毕");
  Text saveFailed = Utf8ToGbk("保存失败");
  Text pageTooLarge = Utf8ToGbk("页面超过16MB");
  Text progressSuffix = Utf8ToGbk("个章节内容已下载，请等候章节内容下载完毕...");
  Text runStarted = Utf8ToGbk("正在下载小说章节内容，请等候...");
  Text failedPrefix = Utf8ToGbk("有");
  Text failedSuffix =
      Utf8ToGbk("个章节的内容下载失败，请点击继续下载，或直接手动合并小说");
  Text merging = Utf8ToGbk("章节内容已下载完毕，正在合并小说中...");
  Text chaptersDone = Utf8ToGbk("章节内容已下载完毕");
  Text bookDone = Utf8ToGbk("整本小说下载完毕");
  Text nothingToDownload = Utf8ToGbk("没有需要下载的章节");
  Text nothingToMerge = Utf8ToGbk("没有已下载的章节，没有合并小说");
  Text mergedPrefix = Utf8ToGbk("小说已合并，但有");
  Text mergedMissingSuffix = Utf8ToGbk("个章节未下载");
  Text mergeFailedLabel = Utf8ToGbk("合并失败,请手动重新合并!");
  Text mergeFailedNotice = Utf8ToGbk("合并失败,请手动重新合并");
  Text noticeTitle = Utf8ToGbk("提示");
  Text openFailed = Utf8ToGbk("没有可以打开此文件的程序，文件在：");
  Text stoppingPrefix = Utf8ToGbk("正在停止，等待 ");
  Text stoppingSuffix = Utf8ToGbk(" 个章节完成…");
  Text stoppedPrefix = Utf8ToGbk("已停止：已下载 ");
  Text stoppedMiddle = Utf8ToGbk(" 个章节，失败 ");
  Text stoppedSuffix = Utf8ToGbk(" 个");
  Text pausedPrefix = Utf8ToGbk("已暂停：已下载 ");
  Text pausedSuffix = Utf8ToGbk(" 个章节，点击继续下载");
  Text pause = Utf8ToGbk("暂停");
  Text resume = Utf8ToGbk("继续");
  Text noFormatChosen = Utf8ToGbk("未选择生成TXT或生成EPUB，没有合并小说");
  Text epubFailed = Utf8ToGbk("生成EPUB失败：");
};

inline const EngineTexts& DownloadTexts() {
  static const EngineTexts texts;
  return texts;
}

}  // namespace qv
