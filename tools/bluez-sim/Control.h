#pragma once
// org.orvane.BluezSim at /org/orvane/sim: the switches a test pulls to make
// the simulated world misbehave, and what it reads back.

#include "ObjectTree.h"

namespace bluezsim {

class Simulator;

class Control {
public:
    Control(ObjectTree& tree, Simulator& simulator);

private:
    void onCall(Call& call);
    ObjectTree& tree_;
    Simulator& simulator_;
};

}  // namespace bluezsim
