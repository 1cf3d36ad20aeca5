"use strict";
// The console's screens are on their way.
