// The GPU path of FrameView: the frame of palette indices is uploaded as a
// one-byte texture only when a new one came, and a shader looks each index
// up in a 256-entry palette texture while scaling, sharp or filtered (the
// filter mixes the four looked-up colours, since indices cannot be mixed).
#pragma once

#include <QOpenGLBuffer>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QOpenGLVertexArrayObject>
#include <QOpenGLWidget>

class FrameView;

class GlFrameSurface : public QOpenGLWidget, protected QOpenGLFunctions {
  Q_OBJECT
 public:
  explicit GlFrameSurface(FrameView& view);
  ~GlFrameSurface() override;

 protected:
  void initializeGL() override;
  void paintGL() override;
  void showEvent(QShowEvent* event) override;

 private:
  void Release();

  FrameView& view_;
  QOpenGLShaderProgram program_;
  QOpenGLBuffer quad_{QOpenGLBuffer::VertexBuffer};
  QOpenGLVertexArrayObject vao_;
  GLuint frameTexture_ = 0;
  GLuint paletteTexture_ = 0;
  bool ready_ = false;
  bool uploaded_ = false;
};
