"""What a user reads on orb's screens, per language, written down here on their own so
that a scenario checks the program's texts rather than repeating them from its source."""

CAPTION = "SpinPad TK-4"  # the product name: the settings window's and the notice's caption

TEXTS = {
    "en": {
        "notice": "Program has been stayed",
        "hide_notice": "&Hide this message",
        "ok": "OK",
        "show_window": "&Show Window...",
        "about": "&About this program...",
        "about_caption": "About this program",
        "exit": "E&xit",
        "application": "Application",
        "label": "Label",
        "keys": "Key strokes",
        "modifiers": ("Alt", "Ctrl", "Shift"),
        "fixed_keys": ("Enter", "Tab", "Esc"),
        "pause": "Pause...",
        "clear": "&Clear",
        "jog": "JOG speed",
        "shuttle": "SHUTTLE speed",
        "cancel": "cancel",
        "apply": "&Apply",
        "program_button": "Programable button {}",
    },
    "ja": {
        "notice": "プログラムが常駐しました",
        "hide_notice": "今後、このメッセージを表示しない",
        "ok": "OK",
        "show_window": "キー設定(&S)...",
        "about": "このプログラムについて(&A)...",
        "about_caption": "ﾊﾞｰｼﾞｮﾝ情報",
        "exit": "終了(&X)",
        "application": "アプリケーション",
        "label": "ラベル",
        "keys": "キー操作",
        "modifiers": ("Alt", "Ctrl", "Shift"),
        "fixed_keys": ("Enter", "Tab", "Esc"),
        "pause": "ポーズ...",
        "clear": "クリア(&C)",
        "jog": "JOG 速度",
        "shuttle": "SHUTTLE 速度",
        "cancel": "キャンセル",
        "apply": "適用(&A)",
        "program_button": "プログラマブルキー{}",
    },
}
