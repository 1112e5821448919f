#include "program.h"

// Placeholder: filled in by the work on this subject.
