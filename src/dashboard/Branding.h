#pragma once

namespace dashboard {

inline constexpr const char* kVersionText = "v1.0.1";
inline constexpr const char* kStudioName = "VARDEN WORKS";
// The one address the studio link opens.
inline constexpr const char* kStudioUrl = "https://varden.works/";

}  // namespace dashboard
