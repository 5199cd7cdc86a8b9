#include "core/function_catalogue.h"

namespace velt {
namespace {

constexpr std::string_view kSep = "--------";

constexpr std::array<FunctionCatalogueEntry, kFunctionCatalogueSize> kCatalogue{{
    {0, {"Default", "初期設定", "預設值"}},
    {255, {kSep, kSep, kSep}},
    {2, {"Navigation backward", "戻る", "後退"}},
    {3, {"Navigation forward", "進む", "前進"}},
    {255, {kSep, kSep, kSep}},
    {1, {"Window overview", "ウィンドウを並べて表示", "展示視窗"}},
    {4, {"Show desktop", "デスクトップを表示", "顯示桌面"}},
    {5,
     {"Application windows", "ウィンドウを並べて表示 (アプリケーション)", "展示視窗（應用程式）"}},
    {6, {"Widgets", "ウィジェット", "元件"}},
    {30, {"Show applications", "アプリケーションを表示する", "顯示應用程式"}},
    {16, {"Open file manager", "ファイルマネージャを開く", "開啟檔案管理員"}},
    {255, {kSep, kSep, kSep}},
    {7, {"Volume+", "音量を上げる", "音量增加"}},
    {8, {"Volume-", "音量を下げる", "音量降低"}},
    {9, {"Mute", "消音", "靜音"}},
    {10, {"Play/Stop", "再生/一時停止", "暫停/播放"}},
    {11, {"Prev track", "前のトラック", "上一首"}},
    {12, {"Next track", "次のトラック", "下一首"}},
    {255, {kSep, kSep, kSep}},
    {13, {"Copy", "コピー", "複製"}},
    {14, {"Cut", "切り取り", "剪下"}},
    {15, {"Paste", "貼り付け", "貼上"}},
    {27, {"Keyboard shortcut…", "キーボードショートカット…", "鍵盤快捷鍵…"}},
    {255, {kSep, kSep, kSep}},
    {17, {"Screenshot", "スクリーンショット", "截取畫面"}},
    {18, {"Spotlight", "スポットライト", "聚光燈"}},
    {19, {"Magnifier", "拡大鏡", "放大鏡 "}},
    {20, {"Black screen (Impress)", "ブラックアウト(Impress)", "黑屏(Impress)"}},
    {21, {"Play slide (Impress)", "フルスクリーン(Impress)", "播放投影片(Impress)"}},
    {22, {"Previous slide (Impress)", "前のスライドに戻る(Impress)", "前一張投影片(Impress)"}},
    {255, {kSep, kSep, kSep}},
    {23, {"Scroll: Horizontal scrolling", "スクロール: 水平スクロール", "滾輪: 水平捲動"}},
    {24, {"Scroll: Volume", "スクロール: 音量", "滾輪: 音量調整"}},
    {255, {kSep, kSep, kSep}},
    {25, {"Motion: Scroll", "ジェスチャー: スクロール", "移動: 捲動"}},
    {26, {"Motion: Volume", "ジェスチャー: 音量", "移動: 音量"}},
    {255, {"-ZOOM-", "-ZOOM-", "-ZOOM-"}},
    {28, {"ZOOM: Mute the microphone", "ZOOM: マイク静音", "ZOOM: 麥克風靜音"}},
    {29, {"ZOOM: Webcam On/Off", "ZOOM: ビデオ開始/停止", "ZOOM: 開啟/關閉視訊"}},
}};

// Availability of functions in the slot pop-ups. A function not listed here
// is offered in all six slots. Slots are bits 1 << (slot - 1).
struct AvailabilityRule {
  uint8_t code;
  uint8_t slots;
};
constexpr uint8_t kAllSlots = 0x3F;
constexpr uint8_t kStandardAndFirstExtra = 0x0F;  // slots 1 to 4

constexpr AvailabilityRule kAvailability[] = {
    // No Linux desktop has a layer of widgets to call up; a stored code 6
    // still dispatches (and logs that nothing offers it), but it is not
    // offered.
    {6, 0},
    // The application grid and the screenshot tool exist on every desktop.
    {30, kAllSlots},
    {17, kAllSlots},
    // Pointer modes need a button that is held; the extra buttons of slots 5
    // and 6 report a press and its release together.
    {23, kStandardAndFirstExtra},
    {24, kStandardAndFirstExtra},
    {25, kStandardAndFirstExtra},
    {26, kStandardAndFirstExtra},
};

}  // namespace

const std::array<FunctionCatalogueEntry, kFunctionCatalogueSize>& FunctionCatalogue() {
  return kCatalogue;
}

std::string_view functionName(int position, Language language) {
  if (position < 0 || position >= kFunctionCatalogueSize) return kFunctionCatalogueEnd;
  return kCatalogue[position].names[static_cast<int>(language)];
}

bool isFunctionOffered(uint8_t code, int slot) {
  if (slot < 1 || slot > 6) return false;
  for (const auto& rule : kAvailability) {
    if (rule.code == code) return (rule.slots >> (slot - 1)) & 1;
  }
  return true;
}

}  // namespace velt
