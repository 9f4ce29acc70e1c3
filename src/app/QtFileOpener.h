#pragma once

#include "monitor/MonitorServices.h"

namespace drainwatch {

// Opens a file in the application the desktop associates with its type.
class QtFileOpener final : public FileOpener {
public:
    bool open(const std::string& path) override;
};

} // namespace drainwatch
