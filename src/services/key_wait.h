// Key wait: holds the tool until the user presses a key on the console.
#pragma once

void wait_key();
