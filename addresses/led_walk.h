#pragma once
struct Tool;

// "Allumer les LED une à une": after a search, lights each found detector's LED in address order
// for a chosen time, then switches it off, so that one person walking the loop can see which
// detector sits where. V while a LED is lit records it as seen on site. The walk itself is
// Tool::led_walk (Led_Walk_Run), whose start, stop and step are defined with these.
void Led_Walk_Mnu_Click(Tool& t); // asks how long each LED stays lit and starts the walk, or
                                  // stops the one under way
void Led_Walk(Tool& t);           // state 18: the next LED
void Led_Seen_Key(Tool& t);       // V: the LED lit now is seen
