// Painter: something that draws or plays the frames of a rendering block
// (a video canvas, for instance). Widgets derive from it, register it in the
// manager's painter table under its name (BlockManager::registerPainter) and
// get it bound to a pin with BlockManager::attachPainterToPin. A rendering
// block then hands each frame to it with Block::paint(), which calls setData()
// on the block's thread.
//
// A Painter is also a ConfigTable (64 buckets) whose storage file name is the
// painter's name. Every operation of the base answers 0 ("not supported").
#ifndef MORVANE_PAINTER_H
#define MORVANE_PAINTER_H

#include "mosal/ConfigTable.h"
#include "mosal/DataBuf.h"

namespace MorvaneLib {

struct dmessage_t;

// Format codes carried in dmessage_t::format.
enum VideoFormat {
  VIDEO_NONE = 0,
  VIDEO_YUV420P = 1,  // planar Y, U, V (4:2:0)
  VIDEO_YUV422 = 2,   // packed YUYV
  VIDEO_RGB24 = 3,    // 3 bytes a pixel, R G B
  VIDEO_RGBA32 = 4,   // 4 bytes a pixel, the canvas's own pixel format
  VIDEO_MPEG4 = 5,    // an encoded picture
  VIDEO_JPEG = 6
};
enum AudioFormat { AUDIO_NONE = 0, AUDIO_S16LE = 1, AUDIO_U8 = 2, AUDIO_GSM = 3 };
enum TextFormat { TEXT_NONE = 0, TEXT_PLAIN = 1, TEXT_UTF8 = 2 };

class Painter : public ConfigTable {
 public:
  // Copies the name. Throws what ConfigTable and DataBuf throw.
  explicit Painter(const char* name);
  ~Painter() override;

  // The painter's name.
  char* getStorageFilename() override;
  virtual int isVideoSupported();
  virtual int isAudioSupported();
  virtual int isTextSupported();
  virtual int isVideoFormatSupported(VideoFormat format);
  virtual int isAudioFormatSupported(AudioFormat format);
  virtual int isTextFormatSupported(TextFormat format);
  // One frame, on the rendering block's thread: must not wait for the GUI.
  // The bytes and header are lent for the call only.
  virtual int setData(DataBuf* data, dmessage_t* header);

  char* getName() { return name->getData(); }

 protected:
  DataBuf* name;
};

}  // namespace MorvaneLib

#endif
