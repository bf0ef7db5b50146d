// The precompiled headers are made as part of a library of their own, which
// is otherwise empty: the layers and tests take the header from it.
