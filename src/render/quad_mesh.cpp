#include "render/quad_mesh.h"

#include "render/gl.h"

void QuadMesh::init() {
    // x, y, u, v for a triangle strip over the unit square.
    static const float kVertices[16] = {
        0.0f, 0.0f, 0.0f, 0.0f, //
        0.0f, 1.0f, 0.0f, 1.0f, //
        1.0f, 0.0f, 1.0f, 0.0f, //
        1.0f, 1.0f, 1.0f, 1.0f, //
    };
    glGenVertexArrays(1, &vao);
    glGenBuffers(1, &vbo);
    glBindVertexArray(vao);
    glBindBuffer(GL_ARRAY_BUFFER, vbo);
    glBufferData(GL_ARRAY_BUFFER, sizeof kVertices, kVertices, GL_STATIC_DRAW);
    glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 16, reinterpret_cast<const void*>(0));
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 16, reinterpret_cast<const void*>(8));
    glEnableVertexAttribArray(1);
    glBindVertexArray(0);
}

void QuadMesh::draw() const {
    glBindVertexArray(vao);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    glBindVertexArray(0);
}

void QuadMesh::release() {
    if (vbo != 0) {
        glDeleteBuffers(1, &vbo);
        vbo = 0;
    }
    if (vao != 0) {
        glDeleteVertexArrays(1, &vao);
        vao = 0;
    }
}
