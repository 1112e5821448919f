#include "floating_bar.h"

// Placeholder: filled in by the work on this subject.
