// SPDX-License-Identifier: MIT
#include "terminal/StatusPublisher.h"

#include "terminal/TerminalFrontEnd.h"

namespace drainwatch {

StatusPublisher::StatusPublisher(ViewController& controller, SingleInstance& instance)
{
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        fields_[i].next = controller.*kStatusFields[i].member;
        controller.*kStatusFields[i].member = &fields_[i];
    }
    instance.currentLine = [this, &controller] {
        std::array<std::string, kStatusFields.size()> texts;
        for (std::size_t i = 0; i < texts.size(); ++i)
            texts[i] = fields_[i].text;
        return statusJsonLine(texts, controller);
    };
    controller.displayUpdated = [&instance, shown = std::move(controller.displayUpdated)] {
        if (shown)
            shown();
        // Nobody follows most of the time: no line is made for nobody.
        if (instance.hasFollowers())
            instance.publish(instance.currentLine());
    };
}

} // namespace drainwatch
