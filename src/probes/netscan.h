#pragma once
// Network interface scan: picks the card whose hardware address identifies
// the machine.
