// SPDX-License-Identifier: MIT
#pragma once

#include "monitor/ViewController.h"
#include "platform/SingleInstance.h"
#include "terminal/StatusFields.h"

#include <array>
#include <string>

namespace drainwatch {

// Sends every refresh, as the JSON line of --json, to the status-bar readers
// that follow this monitor over its socket, whatever its front end. Stands
// between the controller and the front end's text outlets: construct it after
// the front end, before the monitor loads.
class StatusPublisher {
public:
    StatusPublisher(ViewController& controller, SingleInstance& instance);
    StatusPublisher(const StatusPublisher&) = delete;
    StatusPublisher& operator=(const StatusPublisher&) = delete;

private:
    struct KeptField final : TextField {
        void setText(const std::string& value) override
        {
            text = value;
            if (next)
                next->setText(value);
        }
        TextField* next = nullptr;
        std::string text;
    };

    std::array<KeptField, kStatusFields.size()> fields_;
};

} // namespace drainwatch
