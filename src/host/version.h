// The program's version, from the project version in CMakeLists.txt.
#pragma once

const char* PellucidoreVersion();
