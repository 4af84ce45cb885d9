#pragma once
// A token as orlim prints it, which the fleet tests' records carry.

inline constexpr char kToken[] = "828351548306B6F3931109457B2CC953FF9FBEE0C4776C332A26651B2A";
