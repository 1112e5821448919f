#include "chart_stats.h"

// Placeholder: filled in by the work on this subject.
