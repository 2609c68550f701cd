#pragma once
// Reading numbers typed into dialog fields: what a field holds when its text is not a number.
#include <string>

namespace qm::viewmodels {

// The decimal number in text (blanks around it and a sign allowed); fallback when the text
// is empty, holds anything else, or does not fit in 32 bits.
int ReadNumber(const std::string& text, int fallback);

int Clamp(int value, int low, int high);

}  // namespace qm::viewmodels
