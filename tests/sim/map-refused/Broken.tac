not a picture either
