// The file names of the device's two transfers: what the device command tells it to fetch or
// send, and what the TFTP server accepts in its request.
#pragma once

inline constexpr const char kReadImageName[] = "image";          // RRQ: the device fetches
inline constexpr const char kWriteImageName[] = "upload-image";  // WRQ: the device sends
