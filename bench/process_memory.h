// Resident memory of another process on this machine, as the kernel counts it.
#pragma once

#include <fstream>
#include <string>

// VmRSS of process pid in kilobytes, or -1.
inline long ResidentKilobytes(const std::string& pid) {
    std::ifstream status("/proc/" + pid + "/status");
    std::string key;
    long value = 0;
    while (status >> key) {
        if (key == "VmRSS:" && status >> value) return value;
        status.ignore(1 << 10, '\n');
    }
    return -1;
}
