// Power, root, logarithm and modulo agents: work on the end of their zone's charge list.
// Each consumes the last one or two charges and appends one result in their place.
#pragma once

#include "model/agent.h"

namespace orv {

class PowerSorcerer : public MagicianAgent {
public:
    explicit PowerSorcerer(std::string visual_id) : MagicianAgent("Power Sorcerer", 75, std::move(visual_id)) {}
    bool CastSpell(std::vector<Charge>& charges) override;
};

class RootMagician : public MagicianAgent {
public:
    explicit RootMagician(std::string visual_id) : MagicianAgent("The Extractor", 75, std::move(visual_id)) {}
    bool CastSpell(std::vector<Charge>& charges) override;
};

class LogMagician : public MagicianAgent {
public:
    explicit LogMagician(std::string visual_id) : MagicianAgent("The Architect", 90, std::move(visual_id)) {}
    bool CastSpell(std::vector<Charge>& charges) override;
};

class ModuloMagician : public MagicianAgent {
public:
    explicit ModuloMagician(std::string visual_id) : MagicianAgent("The Scavenger", 50, std::move(visual_id)) {}
    bool CastSpell(std::vector<Charge>& charges) override;
};

}  // namespace orv
