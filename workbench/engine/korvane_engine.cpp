#include "workbench/engine/korvane_engine.h"

std::atomic<double> progressValue{0.0};

CKORVANE_Engine::CKORVANE_Engine() = default;

CKORVANE_Engine::~CKORVANE_Engine() = default;
