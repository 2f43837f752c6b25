#pragma once
// The string resources that name the host's three variables.
#define PELLACOR_RESULT_NAME 112
#define PELLACOR_SETTING_NAME 114
#define PELLACOR_BUFFER_NAME 115
