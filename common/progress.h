// progress.h - the one-line progress bar both tools draw on standard error
// while a block is coded.  One meter at a time, program-wide.
//
// Blocks of more than 16 lines get "0% ....................  100%" with a
// '*' trail and a '>' head that moves once per ceil(lines / 20) lines;
// shorter blocks get one '.' that a blank overwrites.
#ifndef ZEFA_COMMON_PROGRESS_H
#define ZEFA_COMMON_PROGRESS_H

// Sets the meter up for a block of the given number of lines and draws the
// empty bar.  Returns the steps value to give progress_bar for a redraw.
int progress_start(int lines);
// Draws the empty bar again (a second coding pass) and resets the
// countdown, so the next step draws a mark at once.
void progress_bar(int steps);
// Called once per line, before the line is coded; n is the caller's line
// count (the encoder's last line result, the decoder's line index).
void progress_step(int n);
// Finishes the bar after the last line.
void progress_end();

#endif
