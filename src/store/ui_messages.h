#pragma once
// The UI message table: 53 texts addressed by index, replaceable by the language file.
#include <string>
#include <string_view>

namespace qm::store {

constexpr int kUIMessageCount = 53;

// Text number index; an index outside the table gives an empty text.
const std::string& UIMessage(int index);
// Replaces the table from CR LF separated text (entries beyond the given lines are kept).
void SetUIMessages(std::string_view text);
// Replaces one text (an index outside the table changes nothing).
void SetUIMessage(int index, std::string_view text);
// Restores the built-in English texts.
void ResetUIMessages();

}  // namespace qm::store
