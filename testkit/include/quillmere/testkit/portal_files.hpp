// Every portal file builder of the test kit (animations, setup models, physics scripts and the
// hooks and frames they share), and the memory-budget runner the tests of hostile files use.
#pragma once

#include "quillmere/testkit/animation_file.hpp"
#include "quillmere/testkit/hooks_and_frames.hpp"
#include "quillmere/testkit/physics_script_file.hpp"
#include "quillmere/testkit/process.hpp"
#include "quillmere/testkit/setup_model_file.hpp"
