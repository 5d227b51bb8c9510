#include "ui/ui_texts.h"

namespace orb {
namespace {

constexpr TrayMenuTexts kTrayEnglish{"&Show Window...", "Set to &default", "S&tay when the system begins",
                                     "&About this program...", "E&xit"};
constexpr TrayMenuTexts kTrayJapanese{"キー設定(&S)...", "標準に戻す(&D)", "Windows起動時に常駐する(&T)",
                                      "このプログラムについて(&A)...", "終了(&X)"};

constexpr NoticeTexts kNoticeEnglish{"Program has been stayed", "&Hide this message", "OK"};
constexpr NoticeTexts kNoticeJapanese{"プログラムが常駐しました", "今後、このメッセージを表示しない", "OK"};

constexpr AboutTexts kAboutEnglish{"About this program",
                                   "Plays the jog/shuttle controller into the application in front.", "OK"};
constexpr AboutTexts kAboutJapanese{"ﾊﾞｰｼﾞｮﾝ情報", "ジョグ/シャトルコントローラの操作を前面のアプリケーションに送ります。",
                                    "OK"};

constexpr PanelTexts kPanelEnglish{
    "Application", "Label", "Key strokes", "Combination", "Alt", "Ctrl", "Shift", "Enter", "Tab", "Esc",
    "Pause...", "&Clear", "OK", "cancel", "&Apply",
    "The settings are in use, but they could not be saved, so they will be lost when the program ends.\n\n%1",
    "The editor changed the settings. Your changes that were not applied yet have been discarded."};
constexpr PanelTexts kPanelJapanese{
    "アプリケーション", "ラベル", "キー操作", "組み合わせ", "Alt", "Ctrl", "Shift", "Enter", "Tab", "Esc",
    "ポーズ...", "クリア(&C)", "OK", "キャンセル", "適用(&A)",
    "設定は使用中ですが保存できませんでした。プログラムを終了すると失われます。\n\n%1",
    "エディタが設定を変更しました。まだ適用していない変更は破棄されました。"};

}  // namespace

const PanelTexts& PanelText(UiLanguage language) {
  return language == UiLanguage::Japanese ? kPanelJapanese : kPanelEnglish;
}

const TrayMenuTexts& TrayMenuText(UiLanguage language) {
  return language == UiLanguage::Japanese ? kTrayJapanese : kTrayEnglish;
}

const NoticeTexts& NoticeText(UiLanguage language) {
  return language == UiLanguage::Japanese ? kNoticeJapanese : kNoticeEnglish;
}

const AboutTexts& AboutText(UiLanguage language) {
  return language == UiLanguage::Japanese ? kAboutJapanese : kAboutEnglish;
}

}  // namespace orb
