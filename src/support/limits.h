// Buffer sizes shared by the whole library.
#pragma once

// Paths, path components and PATH items: at most 299 characters and the NUL.
#define PATH_BUFFER_SIZE 300

// The copy that the all-upper-case and all-lower-case tests work on.
#define CASE_TEST_BUFFER_SIZE 1024

// The expanded PATH variable: asked for first, with a fall-back step of PATH_VALUE_STEP bytes.
#define PATH_VALUE_BUFFER_SIZE 10240
#define PATH_VALUE_STEP 1024
