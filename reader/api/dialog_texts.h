// The capture dialogs' texts: the string tables in three languages and the built-in
// defaults, all as bytes of the process code page (GB2312 for 936, Big5 for 950,
// Windows-1252 otherwise).
#pragma once

#include <cstddef>

namespace vantrel::api {

// Base ids of the dialog texts; the string id is base id + language offset.
enum DialogText : int {
  kTextFeatureCaption = 10001,
  kTextTemplateCaption = 10002,
  kTextCancel = 10003,
  kTextStepPrompt = 10004,       // %d = capture number
  kTextPrompt = 10005,           // fourth capture of a template; the feature dialog
  kTextThreadFailed = 10006,
  kTextCaptureFailed = 10007,
  kTextLiftFinger = 10008,
  kTextSynthesisFailed = 10009,
  kTextStepRetry = 10010,        // %d = capture number
  kTextFeatureFailed = 10011,
  kTextVerified = 10012,
  kTextNotVerified = 10013,
  kTextTemplateInstructions = 10014,
  kTextFeatureInstructions = 10015,
  kTextFeatureDone = 10016,
};

inline constexpr int kDialogTextCount = 16;
inline constexpr int kLoadedTextBytes = 512;
// The string loader's buffer: a longer string is cut to 499 bytes and a terminator.
inline constexpr int kStringLoadBytes = 500;

enum class DialogKind { kFeature, kTemplate };

// The string table entry of a string id (base id + language offset), or null when the
// library holds no string of that id.
const char* StringResource(int id);

// The built-in default of a base id in the given dialog: "" where that dialog has none.
const char* DefaultText(DialogKind kind, int base_id);

// Loads a text into target (kLoadedTextBytes): the default first, then the string of
// base_id + language_offset over it when the library is loaded and holds that string.
// Never fails. Returns target.
char* LoadText(DialogKind kind, int base_id, int language_offset, bool loaded,
               char (&target)[kLoadedTextBytes]);

}  // namespace vantrel::api
