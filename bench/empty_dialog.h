/* Resource id of the empty dialog of the start-up baseline. */
#pragma once

#define IDD_EMPTY 100
