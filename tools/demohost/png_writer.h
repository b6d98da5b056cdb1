// Writes a 24-bit top-down RGB picture as a PNG file (stored DEFLATE blocks:
// no compression, but every viewer reads it). For the demo's screenshots.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

bool WritePngRgb(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb);
