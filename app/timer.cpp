#include "timer.h"

// Placeholder: filled in by the work on this subject.
