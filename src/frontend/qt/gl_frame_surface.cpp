#include "frontend/qt/gl_frame_surface.h"

#include <QPainter>
#include <QTimer>
#include <QVector2D>
#include <QVector4D>
#include <cstdio>
#include <vector>

#include "devices/renderer.h"
#include "frontend/qt/frame_view.h"

namespace {

// Written for GLSL 1.10 / ES 1.00 so that any context Qt makes can run it.
const char* kVertexShader = R"(
attribute vec2 position;
uniform vec4 source;  // left, top, width, height in frame pixels
varying vec2 texel;
void main() {
  texel = source.xy + vec2(position.x * 0.5 + 0.5, 0.5 - position.y * 0.5) * source.zw;
  gl_Position = vec4(position, 0.0, 1.0);
}
)";

const char* kFragmentShader = R"(
#ifdef GL_ES
precision highp float;
#endif
uniform sampler2D frame;
uniform sampler2D palette;
uniform vec2 frameSize;
uniform float smooth;
varying vec2 texel;
vec4 Colour(vec2 pixel) {
  float index = texture2D(frame, (pixel + 0.5) / frameSize).r;
  return texture2D(palette, vec2((index * 255.0 + 0.5) / 256.0, 0.5));
}
void main() {
  if (smooth > 0.5) {
    vec2 p = texel - 0.5;
    vec2 f = fract(p);
    vec2 b = floor(p);
    gl_FragColor = mix(mix(Colour(b), Colour(b + vec2(1.0, 0.0)), f.x),
                       mix(Colour(b + vec2(0.0, 1.0)), Colour(b + vec2(1.0, 1.0)), f.x), f.y);
  } else {
    gl_FragColor = Colour(floor(texel));
  }
}
)";

GLuint NewTexture(QOpenGLFunctions& gl) {
  GLuint texture = 0;
  gl.glGenTextures(1, &texture);
  gl.glBindTexture(GL_TEXTURE_2D, texture);
  gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  return texture;
}

}  // namespace

GlFrameSurface::GlFrameSurface(FrameView& view) : QOpenGLWidget(&view), view_(view) {
  // The view beneath handles the mouse, the cursor and the key focus.
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setFocusPolicy(Qt::NoFocus);
  setGeometry(view.rect());
}

GlFrameSurface::~GlFrameSurface() {
  if (!context()) return;
  makeCurrent();
  Release();
  doneCurrent();
}

void GlFrameSurface::Release() {
  if (frameTexture_) glDeleteTextures(1, &frameTexture_);
  if (paletteTexture_) glDeleteTextures(1, &paletteTexture_);
  frameTexture_ = paletteTexture_ = 0;
  quad_.destroy();
  vao_.destroy();
  program_.removeAllShaders();
  ready_ = uploaded_ = false;
}

void GlFrameSurface::initializeGL() {
  initializeOpenGLFunctions();
  // A renderer that rasterises on the CPU (Mesa's llvmpipe/softpipe in a VM
  // or without drivers) costs far more than the painter path for a picture
  // that changes every frame: use the painter there.
  const auto* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
  const QByteArray name = renderer ? QByteArray(renderer).toLower() : QByteArray();
  if ((name.contains("llvmpipe") || name.contains("softpipe") || name.contains("software")) &&
      qEnvironmentVariableIsEmpty("PELLUCIDORE_ALLOW_SOFTWARE_GL")) {
    std::fprintf(stderr, "pellucidore: OpenGL renders on the CPU here (%s), drawing without it\n", renderer);
    QTimer::singleShot(0, &view_, [view = &view_] { view->FallBackToPainter(); });
    return;
  }
  connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, [this] {
    makeCurrent();
    Release();
    doneCurrent();
  });
  if (!program_.addShaderFromSourceCode(QOpenGLShader::Vertex, kVertexShader) ||
      !program_.addShaderFromSourceCode(QOpenGLShader::Fragment, kFragmentShader) || !program_.link()) {
    std::fprintf(stderr, "pellucidore: OpenGL picture unavailable, drawing without it: %s\n",
                 program_.log().toLocal8Bit().constData());
    // Not from inside the GL callback: the view deletes this surface.
    QTimer::singleShot(0, &view_, [view = &view_] { view->FallBackToPainter(); });
    return;
  }
  vao_.create();  // absent on bare ES 2; the attribute is then set per draw
  QOpenGLVertexArrayObject::Binder binder(&vao_);
  static const GLfloat corners[] = {-1, -1, 1, -1, -1, 1, 1, 1};
  quad_.create();
  quad_.bind();
  quad_.allocate(corners, sizeof corners);

  frameTexture_ = NewTexture(*this);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_LUMINANCE, kFrameWidth, kFrameHeight, 0, GL_LUMINANCE, GL_UNSIGNED_BYTE, nullptr);
  paletteTexture_ = NewTexture(*this);
  std::vector<uint8_t> palette(256 * 4);
  for (int i = 0; i < 256; ++i) {
    const QRgb c = view_.colours_[i];
    palette[i * 4] = qRed(c);
    palette[i * 4 + 1] = qGreen(c);
    palette[i * 4 + 2] = qBlue(c);
    palette[i * 4 + 3] = 255;
  }
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 256, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, palette.data());
  ready_ = true;
  uploaded_ = false;
}

void GlFrameSurface::showEvent(QShowEvent* event) {
  QOpenGLWidget::showEvent(event);
  // A context can exist while the window system still cannot compose an
  // OpenGL widget; the surface is set up by now if it ever will be.
  QTimer::singleShot(0, this, [this] {
    if (isVisible() && !isValid()) {
      std::fprintf(stderr, "pellucidore: OpenGL picture unavailable, drawing without it\n");
      view_.FallBackToPainter();
    }
  });
}

void GlFrameSurface::paintGL() {
  const bool fresh = view_.TakeFrame();
  if (view_.WhilePainting) view_.WhilePainting();
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  if (!ready_) return;
  const QRect target = view_.PictureRect();
  if (target.isEmpty()) return;

  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, frameTexture_);
  if (fresh || !uploaded_) {
    // shown_ belongs to the GUI thread: read without the lock.
    const QImage& shown = view_.shown_;
    // Qt pads lines to 4 bytes and a frame line is a multiple of 4, so the
    // image is one contiguous block.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, kFrameWidth, kFrameHeight, GL_LUMINANCE, GL_UNSIGNED_BYTE, shown.constBits());
    uploaded_ = true;
  }
  glActiveTexture(GL_TEXTURE1);
  glBindTexture(GL_TEXTURE_2D, paletteTexture_);

  const qreal ratio = devicePixelRatioF();
  const int bottom = height() - target.bottom() - 1;
  glViewport(qRound(target.left() * ratio), qRound(bottom * ratio), qRound(target.width() * ratio),
             qRound(target.height() * ratio));
  program_.bind();
  program_.setUniformValue("frame", 0);
  program_.setUniformValue("palette", 1);
  program_.setUniformValue("frameSize", QVector2D(kFrameWidth, kFrameHeight));
  const Rect& s = view_.source_;
  program_.setUniformValue("source", QVector4D(s.Left, s.Top, s.Width(), s.Height()));
  program_.setUniformValue("smooth", view_.smooth_ ? 1.0f : 0.0f);
  {
    QOpenGLVertexArrayObject::Binder binder(&vao_);
    quad_.bind();
    const int position = program_.attributeLocation("position");
    program_.enableAttributeArray(position);
    program_.setAttributeBuffer(position, GL_FLOAT, 0, 2);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    program_.disableAttributeArray(position);
    quad_.release();
  }
  program_.release();
  glActiveTexture(GL_TEXTURE0);
  glViewport(0, 0, qRound(width() * ratio), qRound(height() * ratio));

  if (view_.overlayOn_ && !view_.overlay_.isNull()) {
    QPainter p(this);
    p.drawImage(target.topLeft(), view_.overlay_);
  }
}
