// Splash: the start-up window interface the block manager drives while it
// loads plug-ins (title, one line of text, a progress bar and its maximum).
// The application implements it; the manager only calls it, from the thread
// that constructs the manager, and does not own it.
#ifndef MORVANE_SPLASH_H
#define MORVANE_SPLASH_H

namespace MorvaneLib {

class Splash {
 public:
  virtual ~Splash() = default;
  virtual void show() {}
  virtual void hide() {}
  virtual void setTitle(const char* title) { (void)title; }
  virtual void setText(const char* text) { (void)text; }
  virtual void setMaxProgress(int max) { (void)max; }
  virtual void setProgress(int value) { (void)value; }
};

}  // namespace MorvaneLib

#endif
