// The page walker: visits every page and searches each one for rows.
#pragma once
#include "setup/globals.h"

void walk_pages(globals* g);
