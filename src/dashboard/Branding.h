#pragma once

#include "QuillmarkVersion.h"

namespace dashboard {

using quillmark::kVersionText;
inline constexpr const char* kStudioName = "VARDEN WORKS";
// The one address the studio link opens.
inline constexpr const char* kStudioUrl = "https://varden.works/";

}  // namespace dashboard
