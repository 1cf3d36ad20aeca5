#pragma once

// The platform's commands that the module runs (the feature command
// "mkgf_act") are installed beside the programs that host it: puts the
// running program's directory first on PATH. Call at start-up, before any
// thread is started (it sets the environment).
void findPlatformCommandsBesideThisProgram();
