// The string tables of the capture dialogs. Every text is held as the bytes that the
// process code page of its language gives: GB2312 for Simplified Chinese (936), Big5 for
// Traditional Chinese (950), Windows-1252 for English. Code page 1252 has no full-width
// comma and colon, so the English texts carry their plain forms there. The built-in
// defaults are GB2312 bytes whatever the code page. Each text is quoted above its bytes.
#include "reader/api/dialog_texts.h"

#include "reader/platform/resource_text.h"

#include <cstring>

#include "reader/api/module_state.h"

namespace vantrel::api {

namespace {

// GB2312 texts that both the Simplified resource table and the built-in defaults hold.
// 创建指纹采集线程失败
constexpr char kCaptureThreadFailed[] =
    "\xB4\xB4\xBD\xA8\xD6\xB8\xCE\xC6\xB2\xC9\xBC\xAF\xCF\xDF\xB3\xCC\xCA\xA7\xB0\xDC";
// 指纹图像采集超时
constexpr char kCaptureTimedOut[] =
    "\xD6\xB8\xCE\xC6\xCD\xBC\xCF\xF1\xB2\xC9\xBC\xAF\xB3\xAC\xCA\xB1";
// 请抬起手指...
constexpr char kLiftFinger[] =
    "\xC7\xEB\xCC\xA7\xC6\xF0\xCA\xD6\xD6\xB8...";
// 指纹模板合成失败
constexpr char kTemplateFailed[] =
    "\xD6\xB8\xCE\xC6\xC4\xA3\xB0\xE5\xBA\xCF\xB3\xC9\xCA\xA7\xB0\xDC";
// 第[%d]次指纹特征采集失败，请重试
constexpr char kRetryCapture[] =
    "\xB5\xDA[%d]\xB4\xCE\xD6\xB8\xCE\xC6\xCC\xD8\xD5\xF7\xB2\xC9\xBC\xAF\xCA\xA7\xB0\xDC"
    "\xA3\xAC\xC7\xEB\xD6\xD8\xCA\xD4";
// 指纹特征采集失败
constexpr char kFeatureFailed[] =
    "\xD6\xB8\xCE\xC6\xCC\xD8\xD5\xF7\xB2\xC9\xBC\xAF\xCA\xA7\xB0\xDC";
// 指纹比对成功
constexpr char kMatchSucceeded[] =
    "\xD6\xB8\xCE\xC6\xB1\xC8\xB6\xD4\xB3\xC9\xB9\xA6";

const char* const kSimplified[kDialogTextCount] = {
    // 10001: 指纹特征采集
    "\xD6\xB8\xCE\xC6\xCC\xD8\xD5\xF7\xB2\xC9\xBC\xAF",
    // 10002: 指纹模板采集
    "\xD6\xB8\xCE\xC6\xC4\xA3\xB0\xE5\xB2\xC9\xBC\xAF",
    // 10003: 取消
    "\xC8\xA1\xCF\xFB",
    // 10004: 开始第[%d]次采集指纹, 请按手指...
    "\xBF\xAA\xCA\xBC\xB5\xDA[%d]\xB4\xCE\xB2\xC9\xBC\xAF\xD6\xB8\xCE\xC6, \xC7\xEB"
    "\xB0\xB4\xCA\xD6\xD6\xB8...",
    // 10005: 开始次采集指纹, 请按手指...
    "\xBF\xAA\xCA\xBC\xB4\xCE\xB2\xC9\xBC\xAF\xD6\xB8\xCE\xC6, \xC7\xEB\xB0\xB4\xCA\xD6\xD6\xB8"
    "...",
    // 10006: 创建指纹采集线程失败
    kCaptureThreadFailed,
    // 10007: 指纹图像采集超时
    kCaptureTimedOut,
    // 10008: 请抬起手指...
    kLiftFinger,
    // 10009: 指纹模板合成失败
    kTemplateFailed,
    // 10010: 第[%d]次指纹特征采集失败，请重试
    kRetryCapture,
    // 10011: 指纹特征采集失败
    kFeatureFailed,
    // 10012: 指纹比对成功
    kMatchSucceeded,
    // 10013: 指纹比对失败
    "\xD6\xB8\xCE\xC6\xB1\xC8\xB6\xD4\xCA\xA7\xB0\xDC",
    // 10014: 操作提示：\n\n  请根据提示，采集指纹图像。\n\n  指纹模板是作为以后指纹认证的依据，采集过程中请尽量保持手指放平整，接触面积足够大，采集到质量较好的指纹。同一手指需采集三次，指纹设备蓝灯亮，按下手指，蓝等灭，抬起手指。当三幅图象全部采集成功后，系统会生成所需的模板数据。
    "\xB2\xD9\xD7\xF7\xCC\xE1\xCA\xBE\xA3\xBA\n\n  \xC7\xEB\xB8\xF9\xBE\xDD\xCC\xE1\xCA\xBE"
    "\xA3\xAC\xB2\xC9\xBC\xAF\xD6\xB8\xCE\xC6\xCD\xBC\xCF\xF1\xA1\xA3\n\n  \xD6\xB8\xCE\xC6"
    "\xC4\xA3\xB0\xE5\xCA\xC7\xD7\xF7\xCE\xAA\xD2\xD4\xBA\xF3\xD6\xB8\xCE\xC6\xC8\xCF\xD6\xA4\xB5\xC4"
    "\xD2\xC0\xBE\xDD\xA3\xAC\xB2\xC9\xBC\xAF\xB9\xFD\xB3\xCC\xD6\xD0\xC7\xEB\xBE\xA1\xC1\xBF\xB1\xA3"
    "\xB3\xD6\xCA\xD6\xD6\xB8\xB7\xC5\xC6\xBD\xD5\xFB\xA3\xAC\xBD\xD3\xB4\xA5\xC3\xE6\xBB\xFD\xD7\xE3"
    "\xB9\xBB\xB4\xF3\xA3\xAC\xB2\xC9\xBC\xAF\xB5\xBD\xD6\xCA\xC1\xBF\xBD\xCF\xBA\xC3\xB5\xC4\xD6\xB8"
    "\xCE\xC6\xA1\xA3\xCD\xAC\xD2\xBB\xCA\xD6\xD6\xB8\xD0\xE8\xB2\xC9\xBC\xAF\xC8\xFD\xB4\xCE\xA3\xAC"
    "\xD6\xB8\xCE\xC6\xC9\xE8\xB1\xB8\xC0\xB6\xB5\xC6\xC1\xC1\xA3\xAC\xB0\xB4\xCF\xC2\xCA\xD6\xD6\xB8"
    "\xA3\xAC\xC0\xB6\xB5\xC8\xC3\xF0\xA3\xAC\xCC\xA7\xC6\xF0\xCA\xD6\xD6\xB8\xA1\xA3\xB5\xB1\xC8\xFD"
    "\xB7\xF9\xCD\xBC\xCF\xF3\xC8\xAB\xB2\xBF\xB2\xC9\xBC\xAF\xB3\xC9\xB9\xA6\xBA\xF3\xA3\xAC\xCF\xB5"
    "\xCD\xB3\xBB\xE1\xC9\xFA\xB3\xC9\xCB\xF9\xD0\xE8\xB5\xC4\xC4\xA3\xB0\xE5\xCA\xFD\xBE\xDD\xA1\xA3",
    // 10015: 操作提示：\n\n  进行指纹特征的采集, 看到蓝灯亮请按手指，蓝灯灭则抬起手指。如指纹特征采集成功，系统会有相应提示。
    "\xB2\xD9\xD7\xF7\xCC\xE1\xCA\xBE\xA3\xBA\n\n  \xBD\xF8\xD0\xD0\xD6\xB8\xCE\xC6\xCC\xD8"
    "\xD5\xF7\xB5\xC4\xB2\xC9\xBC\xAF, \xBF\xB4\xB5\xBD\xC0\xB6\xB5\xC6\xC1\xC1\xC7\xEB\xB0\xB4"
    "\xCA\xD6\xD6\xB8\xA3\xAC\xC0\xB6\xB5\xC6\xC3\xF0\xD4\xF2\xCC\xA7\xC6\xF0\xCA\xD6\xD6\xB8\xA1\xA3"
    "\xC8\xE7\xD6\xB8\xCE\xC6\xCC\xD8\xD5\xF7\xB2\xC9\xBC\xAF\xB3\xC9\xB9\xA6\xA3\xAC\xCF\xB5\xCD\xB3"
    "\xBB\xE1\xD3\xD0\xCF\xE0\xD3\xA6\xCC\xE1\xCA\xBE\xA1\xA3",
    // 10016: 指纹特征采集成功
    "\xD6\xB8\xCE\xC6\xCC\xD8\xD5\xF7\xB2\xC9\xBC\xAF\xB3\xC9\xB9\xA6",
};

const char* const kEnglish[kDialogTextCount] = {
    // 10001: Scan fingerprint for feature
    "Scan fingerprint for fea"
    "ture",
    // 10002: Scan fingerprint for template
    "Scan fingerprint for tem"
    "plate",
    // 10003: Cancle
    "Cancle",
    // 10004: Scan fingerprint step [%d], press finger...
    "Scan fingerprint step [%"
    "d], press finger...",
    // 10005: Scan fingerprint, press your finger...
    "Scan fingerprint, press "
    "your finger...",
    // 10006: create thread error
    "create thread error",
    // 10007: Operate time out
    "Operate time out",
    // 10008: put up your finger...
    "put up your finger...",
    // 10009: Enroll template error
    "Enroll template error",
    // 10010: Scan fingerprint step [%d] error，retry
    "Scan fingerprint step [%"
    "d] error,retry",
    // 10011: Feature Error
    "Feature Error",
    // 10012: Verify Succeed
    "Verify Succeed",
    // 10013: Verify Failed
    "Verify Failed",
    // 10014: NOTE：\n\nPlease suggest fingerprint image. \n\n after the fingerprint authentication fingerprint template as the basis for the collection process as much as possible to keep your fingers placed flat, the contact area is large enough to collect good quality fingerprints. Collected three times the same finger, fingerprint equipment, blue lights, press the finger, and blue off, raised his finger. When all three image acquisition is successful, the system will generate the required template data.
    "NOTE:\n\nPlease suggest fi"
    "ngerprint image. \n\n afte"
    "r the fingerprint authen"
    "tication fingerprint tem"
    "plate as the basis for t"
    "he collection process as"
    " much as possible to kee"
    "p your fingers placed fl"
    "at, the contact area is "
    "large enough to collect "
    "good quality fingerprint"
    "s. Collected three times"
    " the same finger, finger"
    "print equipment, blue li"
    "ghts, press the finger, "
    "and blue off, raised his"
    " finger. When all three "
    "image acquisition is suc"
    "cessful, the system will"
    " generate the required t"
    "emplate data.",
    // 10015: NOTE：\n\nCollection of fingerprint features, see the blue lights, press your fingers, then lift your finger off the blue lights. Fingerprint collection as successful, the system will be prompted.
    "NOTE:\n\nCollection of fin"
    "gerprint features, see t"
    "he blue lights, press yo"
    "ur fingers, then lift yo"
    "ur finger off the blue l"
    "ights. Fingerprint colle"
    "ction as successful, the"
    " system will be prompted"
    ".",
    // 10016: Feature Succeed
    "Feature Succeed",
};

const char* const kTraditional[kDialogTextCount] = {
    // 10001: 指紋特徵採集
    "\xAB\xFC\xAF\xBE\xAFS\xBCx\xB1\xC4\xB6\xB0",
    // 10002: 指紋範本採集
    "\xAB\xFC\xAF\xBE\xBD""d\xA5\xBB\xB1\xC4\xB6\xB0",
    // 10003: 取消
    "\xA8\xFA\xAE\xF8",
    // 10004: 開始第[%d]次採集指紋, 請按手指...
    "\xB6}\xA9l\xB2\xC4[%d]\xA6\xB8\xB1\xC4\xB6\xB0\xAB\xFC\xAF\xBE, \xBD\xD0"
    "\xAB\xF6\xA4\xE2\xAB\xFC...",
    // 10005: 開始次採集指紋, 請按手指...
    "\xB6}\xA9l\xA6\xB8\xB1\xC4\xB6\xB0\xAB\xFC\xAF\xBE, \xBD\xD0\xAB\xF6\xA4\xE2\xAB\xFC"
    "...",
    // 10006: 創建指紋採集線程失敗
    "\xB3\xD0\xAB\xD8\xAB\xFC\xAF\xBE\xB1\xC4\xB6\xB0\xBDu\xB5{\xA5\xA2\xB1\xD1",
    // 10007: 指紋圖像採集超時
    "\xAB\xFC\xAF\xBE\xB9\xCF\xB9\xB3\xB1\xC4\xB6\xB0\xB6W\xAE\xC9",
    // 10008: 請抬起手指...
    "\xBD\xD0\xA9\xEF\xB0_\xA4\xE2\xAB\xFC...",
    // 10009: 指紋範本合成失敗
    "\xAB\xFC\xAF\xBE\xBD""d\xA5\xBB\xA6X\xA6\xA8\xA5\xA2\xB1\xD1",
    // 10010: 第[%d]次指紋特徵採集失敗，請重試
    "\xB2\xC4[%d]\xA6\xB8\xAB\xFC\xAF\xBE\xAFS\xBCx\xB1\xC4\xB6\xB0\xA5\xA2\xB1\xD1"
    "\xA1""A\xBD\xD0\xAD\xAB\xB8\xD5",
    // 10011: 指紋特徵採集失敗
    "\xAB\xFC\xAF\xBE\xAFS\xBCx\xB1\xC4\xB6\xB0\xA5\xA2\xB1\xD1",
    // 10012: 指紋比對成功
    "\xAB\xFC\xAF\xBE\xA4\xF1\xB9\xEF\xA6\xA8\xA5\\",
    // 10013: 指紋比對失敗
    "\xAB\xFC\xAF\xBE\xA4\xF1\xB9\xEF\xA5\xA2\xB1\xD1",
    // 10014: 操作提示：\n\n  請根據提示，採集指紋圖像。\n\n  指紋範本作為以後指紋認證的依據，採集過程中儘量保持手指放平整，接觸面積足夠大，採集到品質較好的指紋。同一手指採集三次，指紋設備藍燈亮，按下手指，藍等滅，抬起手指。當三幅圖像全部採集成功後，系統會生成所需的範本資料。
    "\xBE\xDE\xA7@\xB4\xA3\xA5\xDC\xA1G\n\n  \xBD\xD0\xAE\xDA\xBE\xDA\xB4\xA3\xA5\xDC"
    "\xA1""A\xB1\xC4\xB6\xB0\xAB\xFC\xAF\xBE\xB9\xCF\xB9\xB3\xA1""C\n\n  \xAB\xFC\xAF\xBE"
    "\xBD""d\xA5\xBB\xA7@\xAC\xB0\xA5H\xAB\xE1\xAB\xFC\xAF\xBE\xBB{\xC3\xD2\xAA\xBA\xA8\xCC"
    "\xBE\xDA\xA1""A\xB1\xC4\xB6\xB0\xB9L\xB5{\xA4\xA4\xBE\xA8\xB6q\xABO\xAB\xF9\xA4\xE2"
    "\xAB\xFC\xA9\xF1\xA5\xAD\xBE\xE3\xA1""A\xB1\xB5\xC4\xB2\xAD\xB1\xBFn\xA8\xAC\xB0\xF7\xA4j"
    "\xA1""A\xB1\xC4\xB6\xB0\xA8\xEC\xAB~\xBD\xE8\xB8\xFB\xA6n\xAA\xBA\xAB\xFC\xAF\xBE\xA1""C"
    "\xA6P\xA4@\xA4\xE2\xAB\xFC\xB1\xC4\xB6\xB0\xA4T\xA6\xB8\xA1""A\xAB\xFC\xAF\xBE\xB3]"
    "\xB3\xC6\xC2\xC5\xBFO\xABG\xA1""A\xAB\xF6\xA4U\xA4\xE2\xAB\xFC\xA1""A\xC2\xC5\xB5\xA5"
    "\xB7\xC0\xA1""A\xA9\xEF\xB0_\xA4\xE2\xAB\xFC\xA1""C\xB7\xED\xA4T\xB4T\xB9\xCF\xB9\xB3"
    "\xA5\xFE\xB3\xA1\xB1\xC4\xB6\xB0\xA6\xA8\xA5\\\xAB\xE1\xA1""A\xA8t\xB2\xCE\xB7|\xA5\xCD"
    "\xA6\xA8\xA9\xD2\xBB\xDD\xAA\xBA\xBD""d\xA5\xBB\xB8\xEA\xAE\xC6\xA1""C",
    // 10015: 操作提示：\n\n    進行指紋特徵的採集, 看到藍燈亮請按手指，藍燈滅則抬起手指。如指紋特徵採集成功，系統會有相應提示。
    "\xBE\xDE\xA7@\xB4\xA3\xA5\xDC\xA1G\n\n    \xB6i\xA6\xE6\xAB\xFC\xAF\xBE"
    "\xAFS\xBCx\xAA\xBA\xB1\xC4\xB6\xB0, \xAC\xDD\xA8\xEC\xC2\xC5\xBFO\xABG\xBD\xD0"
    "\xAB\xF6\xA4\xE2\xAB\xFC\xA1""A\xC2\xC5\xBFO\xB7\xC0\xABh\xA9\xEF\xB0_\xA4\xE2\xAB\xFC"
    "\xA1""C\xA6p\xAB\xFC\xAF\xBE\xAFS\xBCx\xB1\xC4\xB6\xB0\xA6\xA8\xA5\\\xA1""A\xA8t"
    "\xB2\xCE\xB7|\xA6\xB3\xAC\xDB\xC0\xB3\xB4\xA3\xA5\xDC\xA1""C",
    // 10016: 指紋特徵採集成功
    "\xAB\xFC\xAF\xBE\xAFS\xBCx\xB1\xC4\xB6\xB0\xA6\xA8\xA5\\",
};

const char* const kTemplateDefaults[kDialogTextCount] = {
    nullptr,  // 10001
    // 10002: 指纹模板采集
    "\xD6\xB8\xCE\xC6\xC4\xA3\xB0\xE5\xB2\xC9\xBC\xAF",
    // 10003: 取消
    "\xC8\xA1\xCF\xFB",
    // 10004: 开始第 %d 次采集指纹，请按手指...
    "\xBF\xAA\xCA\xBC\xB5\xDA %d \xB4\xCE\xB2\xC9\xBC\xAF\xD6\xB8\xCE\xC6\xA3\xAC\xC7\xEB"
    "\xB0\xB4\xCA\xD6\xD6\xB8...",
    // 10005: 开始进行指纹比对，请按手指...
    "\xBF\xAA\xCA\xBC\xBD\xF8\xD0\xD0\xD6\xB8\xCE\xC6\xB1\xC8\xB6\xD4\xA3\xAC\xC7\xEB\xB0\xB4\xCA\xD6"
    "\xD6\xB8...",
    // 10006: 创建指纹采集线程失败！
    "\xB4\xB4\xBD\xA8\xD6\xB8\xCE\xC6\xB2\xC9\xBC\xAF\xCF\xDF\xB3\xCC\xCA\xA7\xB0\xDC\xA3\xA1",
    // 10007: 指纹图像采集超时
    kCaptureTimedOut,
    // 10008: 请抬起手指...
    kLiftFinger,
    // 10009: 指纹模板合成失败
    kTemplateFailed,
    // 10010: 第[%d]次指纹特征采集失败，请重试
    kRetryCapture,
    // 10011: 指纹特征采集失败
    kFeatureFailed,
    // 10012: 指纹比对成功
    kMatchSucceeded,
    // 10013: 指纹验证失败
    "\xD6\xB8\xCE\xC6\xD1\xE9\xD6\xA4\xCA\xA7\xB0\xDC",
    nullptr,  // 10014
    nullptr,  // 10015
    nullptr,  // 10016
};

const char* const kFeatureDefaults[kDialogTextCount] = {
    // 10001: 指纹特征采集
    "\xD6\xB8\xCE\xC6\xCC\xD8\xD5\xF7\xB2\xC9\xBC\xAF",
    nullptr,  // 10002
    // 10003: 取消
    "\xC8\xA1\xCF\xFB",
    nullptr,  // 10004
    // 10005: 正在采集指纹特征，请按手指...
    "\xD5\xFD\xD4\xDA\xB2\xC9\xBC\xAF\xD6\xB8\xCE\xC6\xCC\xD8\xD5\xF7\xA3\xAC\xC7\xEB\xB0\xB4\xCA\xD6"
    "\xD6\xB8...",
    // 10006: 创建指纹采集线程失败
    kCaptureThreadFailed,
    // 10007: 指纹图像采集超时
    kCaptureTimedOut,
    // 10008: 请抬起手指...
    kLiftFinger,
    nullptr,  // 10009
    nullptr,  // 10010
    // 10011: 指纹特征合成失败
    "\xD6\xB8\xCE\xC6\xCC\xD8\xD5\xF7\xBA\xCF\xB3\xC9\xCA\xA7\xB0\xDC",
    nullptr,  // 10012
    nullptr,  // 10013
    nullptr,  // 10014
    nullptr,  // 10015
    // 10016: 指纹特征成功
    "\xD6\xB8\xCE\xC6\xCC\xD8\xD5\xF7\xB3\xC9\xB9\xA6",
};

constexpr int kFirstId = kTextFeatureCaption;

const char* Entry(const char* const (&table)[kDialogTextCount], int base_id) {
  const int i = base_id - kFirstId;
  return i >= 0 && i < kDialogTextCount ? table[i] : nullptr;
}

}  // namespace

const char* StringResource(int id) {
  switch ((id - kFirstId) / 100 * 100) {
    case kLanguageSimplifiedChinese: return Entry(kSimplified, id - kLanguageSimplifiedChinese);
    case kLanguageEnglish: return Entry(kEnglish, id - kLanguageEnglish);
    case kLanguageTraditionalChinese:
      return Entry(kTraditional, id - kLanguageTraditionalChinese);
    default: return nullptr;
  }
}

const char* DefaultText(DialogKind kind, int base_id) {
  const char* text =
      Entry(kind == DialogKind::kTemplate ? kTemplateDefaults : kFeatureDefaults, base_id);
  return text != nullptr ? text : "";
}

char* LoadText(DialogKind kind, int base_id, int language_offset, bool loaded,
               char (&target)[kLoadedTextBytes]) {
  std::memset(target, 0, sizeof target);
  std::strncpy(target, DefaultText(kind, base_id), sizeof target - 1);
  if (!loaded) return target;
  // The system's string resources first (Windows keeps the tables there), then the
  // tables built into the library.
  char buffer[kStringLoadBytes] = {};
  const char* text = buffer;
  if (platform::LoadResourceText(base_id + language_offset, buffer, sizeof buffer) <= 0) {
    text = StringResource(base_id + language_offset);
  }
  if (text != nullptr && text[0] != '\0') {
    if (text != buffer) std::strncpy(buffer, text, sizeof buffer - 1);
    std::memset(target, 0, sizeof target);
    std::memcpy(target, buffer, sizeof buffer);
  }
  return target;
}

}  // namespace vantrel::api
